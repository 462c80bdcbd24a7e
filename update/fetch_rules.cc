// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/fetch_rules.h"

#include <algorithm>

namespace ferrybox {

bool RedirectAllowed(std::string_view from, std::string_view to, int followed) {
  if (followed >= kMaxRedirects) return false;
  if (to == "https") return true;
  // Plain HTTP only where the page was plain HTTP already: a reply that came
  // over TLS must not send the rest of the fetch out in the clear.
  return to == "http" && from == "http";
}

bool PageBudget::Take(std::string_view piece) {
  const std::string_view fitting =
      piece.substr(0, std::min(piece.size(), Room()));
  handed_over_ += fitting.size();
  const bool satisfied = consumer_(fitting);
  return satisfied || Room() == 0;
}

}  // namespace ferrybox

# SPDX-License-Identifier: GPL-3.0-or-later
# Ferrybox: every set-up step is here, so `make run` and `make test` work on
# a fresh Debian 12 machine.

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local

# Debian packages, by what needs them.
# qt6-base-private-dev: the window tests queue keys as the desktop does.
# libicu-dev: Unicode normalisation and case folding for the engine.
BUILD_DEPS := build-essential cmake ninja-build qt6-base-dev libgl-dev \
	libgtest-dev libgmock-dev fonts-liberation qt6-base-private-dev \
	libicu-dev
# dpkg-shlibdeps reads the package's dependencies from the programs.
PACKAGE_DEPS := dpkg-dev
# File-system images the timestamp tests mount; access control lists and a
# file capability the attribute tests set; the package test builds the
# package and runs the desktop-entry, metadata, manual-page and systemd unit
# checkers; the failed-backup notification is sent over a private D-Bus to a
# stand-in notification service in Python.
TEST_DEPS := exfat-fuse exfatprogs fusefat dosfstools e2fsprogs acl attr libcap2-bin \
	$(PACKAGE_DEPS) desktop-file-utils appstream groff-base systemd man-db \
	dbus-daemon python3-dbus python3-gi
# Debian's own checkers on the package: lintian, hardening-check (devscripts).
TEST_DEPS += lintian devscripts
SCREENSHOT_DEPS := xvfb xauth imagemagick xdotool
# The benchmark's slow share is a FUSE passthrough in Python; its window rows
# run on an X server.
BENCH_DEPS := rsync hyperfine time python3-fusepy xvfb xauth qt6-qpa-plugins
# fusermount unmounts the slow share. fuse and fuse3 exclude each other and
# either will do: install fuse only when neither is there.
BENCH_FUSE = $(if $(shell command -v fusermount3 || command -v fusermount),,fuse)
# A copy whose close fails is tested on a FUSE passthrough in Python too.
TEST_DEPS += python3-fusepy $(BENCH_FUSE)

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Installs whichever of the named packages are missing; nothing when all are
# present.
define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all deps test-deps build run test sanitize package screenshot bench install clean

all: build

deps:
	$(call install_missing,$(BUILD_DEPS))

test-deps: deps
	$(if $(strip $(TEST_DEPS)),$(call install_missing,$(TEST_DEPS)))

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

run: build
	./$(BUILD)/ferrybox

test: test-deps build
	cd $(BUILD) && ctest --output-on-failure --timeout 120 -j2

# The engine's and the command line's tests built with ThreadSanitizer in
# build-tsan/ and run once; any report of a data race fails them.
TSAN_BUILD ?= build-tsan
TSAN_TESTS := engine_tests cli_tests
sanitize: test-deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache) \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) --target $(TSAN_TESTS) ferrybox-cli
	cd $(TSAN_BUILD) && for t in $(TSAN_TESTS); do \
	  TSAN_OPTIONS="halt_on_error=1 exitcode=66" timeout 900 ./$$t \
	    --gtest_brief=1 || exit 1; \
	done

# The Debian package $(BUILD)/ferrybox_<version>_<arch>.deb; install it with
# apt-get install ./$(BUILD)/ferrybox_*.deb
package: build
	$(call install_missing,$(PACKAGE_DEPS))
	cmake --build $(BUILD) --target package

screenshot: build
	$(call install_missing,$(SCREENSHOT_DEPS))
	./tools/screenshot.sh $(BUILD)

# Release build in build-release/, trees and destinations in its
# bench-scratch/ folder, the table in build/bench.md. Takes several minutes;
# BENCH_ROWS picks rows (see bench/bench.sh), BENCH_RUNS the runs per command.
bench: deps
	$(call install_missing,$(BENCH_DEPS) $(BENCH_FUSE))
	BENCH_REPORT=$(CURDIR)/$(BUILD)/bench.md ./bench/bench.sh

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)

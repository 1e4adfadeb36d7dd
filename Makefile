# ORBIX Loader: the everyday commands. See README.md.
BUILD ?= build
SAN_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
WIN_BUILD ?= build-windows
WIN_APPS_BUILD ?= build-windows-apps
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test test-programs soak test-sanitize test-tsan test-windows qt-windows test-sanitize-all run run-bench demo \
        fuzz bench bench-report bench-window install package clean windows-apps package-windows test-windows-apps

all: build

deps:
	@scripts/install-deps

# The folders compiled a few files at a time: each file parses the same Qt headers, a batch
# parses them once (about half the build's time). The other builds compile file by file, so a
# file that compiles only beside its neighbours is still found.
configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_UNITY_BUILD=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Every test through CTest but the long soaks, and the core again under the
# sanitizers, the session's threads under ThreadSanitizer and the core as Windows
# programs under Wine (about a minute from a clean build-windows/). The end-to-end
# tests mostly wait on serial lines, so the other builds run beside them; each
# one's output comes whole when it ends.
# Tests whose suite name ends in Soak run in `make soak`.
SOAKS = Soak\.
test: build
	@$(MAKE) --no-print-directory -j4 --output-sync=target test-programs test-sanitize test-tsan test-windows

# A test that fails is run once more, alone, before it counts: end-to-end tests on a loaded
# two-core machine have, rarely, missed a deadline. Both runs are printed, and the tests that
# passed only when run again are named at the end, so an intermittent fault stays in sight.
# $(call CTEST_TWICE,ctest's options) in a build folder.
CTEST_TWICE = if ! ctest --output-on-failure --timeout 300 $(1); then \
	  cp Testing/Temporary/LastTestsFailed.log Testing/Temporary/FailedOnce.log && \
	  ctest --output-on-failure --timeout 300 --rerun-failed && \
	  echo "make test: passed only when run again:" && sed 's/^[0-9]*:/  /' Testing/Temporary/FailedOnce.log; \
	fi

test-programs: build
	cd $(BUILD) && $(call CTEST_TWICE,-j $(JOBS) -E '$(SOAKS)')

# A hundred updates through the window and a hundred through the command line,
# each with random recoverable faults (about two and a half minutes).
soak: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600 -R '$(SOAKS)'

test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DORBIX_SANITIZE=ON -DORBIX_QT=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The runner for many keypads, its queue, a station and the keypad finder on threads of their
# own, in-process under ThreadSanitizer: a race fails the test. tests/tsan.supp lists what of Qt
# Core's own it is told to overlook, and why; what no entry there can name (Qt's own lists,
# touched inside Qt) shows now and then, so a failed test here is run once more too.
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DORBIX_TSAN=ON -DORBIX_GUI=OFF -DCMAKE_UNITY_BUILD=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target session_tests
	cd $(TSAN_BUILD) && $(call CTEST_TWICE)

# The core, the keypad model and their unit tests cross-built as Windows
# programs with mingw-w64, and run under Wine (a prefix in $(WIN_BUILD)).
test-windows: deps
	@cmake -S . -B $(WIN_BUILD) -G Ninja --toolchain cmake/mingw-w64.cmake -DORBIX_QT=OFF >/dev/null
	@cmake --build $(WIN_BUILD) -j $(JOBS)
	@scripts/wine-run $(CURDIR)/$(WIN_BUILD)/wine-prefix cmd /c exit </dev/null >/dev/null 2>&1
	@# One Wine server and one set of Wine's own services for the whole run: a server that ends as
	@# the next test connects fails that test. The services start here, on /dev/null: started by a
	@# test they would hold its output open, and CTest would wait for it until the time-out.
	cd $(WIN_BUILD) && export WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine-prefix WINEDEBUG=-all && \
	  wineserver -w && wineserver -p60 && trap 'wineserver -k' EXIT INT TERM && wine cmd /c exit </dev/null >/dev/null 2>&1 && \
	  ctest --output-on-failure -j $(JOBS) --timeout 300

# Qt for Windows (shared DLLs, mingw-w64), built once per machine into
# ~/.cache/orbix/qt-6.4.2-mingw64-HASH; prints that prefix.
qt-windows: deps
	@JOBS=$(JOBS) scripts/build-qt-windows

# The programs for Windows against the Qt of qt-windows (built first if missing), laid out with
# Qt's DLLs and plugins in $(WIN_APPS_BUILD)/windows/.
windows-apps: qt-windows
	@$$(scripts/build-qt-windows --print-prefix)/bin/qt-cmake -S . -B $(WIN_APPS_BUILD) -G Ninja \
	  -DQT_CHAINLOAD_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-gcc.cmake -DORBIX_TESTS=OFF >/dev/null
	@cmake --build $(WIN_APPS_BUILD) -j $(JOBS) --target all windows-deploy

# orbix-loader-VERSION-windows-x64.zip and ...-setup.exe in $(WIN_APPS_BUILD)/packages/.
package-windows: windows-apps
	@cmake --build $(WIN_APPS_BUILD) --target windows-package

# The Windows programs and their installer under Wine, against the Linux simulated keypad.
test-windows-apps: package-windows configure
	@cmake --build $(BUILD) -j $(JOBS) --target orbix-keypad-sim
	tests/windows/run-apps-tests $(WIN_APPS_BUILD) $(BUILD)

# Everything, the Qt programs, window and end-to-end tests included, under the
# sanitizers (slower: a build of its own).
test-sanitize-all: deps
	@cmake -S . -B build-sanitize-all -G Ninja -DORBIX_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize-all -j $(JOBS)
	cd build-sanitize-all && ctest --output-on-failure -j $(JOBS) --timeout 600

# The window against the simulated keypad when there is a display, else the
# command-line demo: a firmware update at 115200 baud.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -x $(BUILD)/ui/orbix-loader ]; then \
	  $(BUILD)/ui/orbix-loader --simulate; \
	else \
	  $(MAKE) --no-print-directory demo; \
	fi

# The production bench on four simulated keypads (--simulate=N for more).
run-bench: build
	$(BUILD)/production/orbix-bench --simulate

demo: build
	$(BUILD)/cli/orbix-flash --simulate --yes firmware examples/demo-firmware.s

fuzz: deps
	@cmake -S . -B build-fuzz -G Ninja -DORBIX_FUZZ=ON -DORBIX_QT=OFF -DORBIX_TESTS=OFF \
	  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# Throughput of a firmware update against the simulator at 115200 and 921600 baud,
# and of eight keypads at once against one alone.
bench: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBIX_TESTS=OFF -DORBIX_GUI=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS) --target orbix-flash orbix-keypad-sim
	bench/firmware-bench.py build-bench

# The production bench with 32 slots updating, its window painting on a virtual display.
# orbix-flash report over 100,000 records (target: under 2 s).
bench-report: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBIX_TESTS=OFF -DORBIX_GUI=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS) --target orbix-flash
	bench/report-bench.py build-bench

bench-window: deps
	@cmake -S . -B build-bench-window -G Ninja -DCMAKE_BUILD_TYPE=Release -DORBIX_TESTS=OFF >/dev/null
	@cmake --build build-bench-window -j $(JOBS) --target orbix-bench orbix-flash orbix-keypad-sim
	xvfb-run -a -s "-screen 0 1920x1080x24" bench/bench-window-bench.py build-bench-window

install: build
	cmake --install $(BUILD)

# Debian packages of the three programs, in $(BUILD)/packages/.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD) $(WIN_APPS_BUILD) build-sanitize-all build-fuzz build-bench build-bench-window

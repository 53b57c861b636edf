# The two commands a newcomer needs: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc)

.PHONY: all deps build run test test-asan test-tsan bench package package-check windows-deps windows test-windows clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-with-sim.sh $(BUILD)

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTOR_SANITIZE=ON

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	QT_QPA_PLATFORM=offscreen \
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

$(TSAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTOR_SANITIZE_THREAD=ON

# The tests that run threads without Qt (the workers on the in-memory window and in vantorctl, the serial
# link, the simulated device) under ThreadSanitizer.
TSAN_TESTS = device_tests app_tests serial_tests sim_tests cli_tests table_tests vantorctl vantor-device-sim
test-tsan: deps $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	set -e; for t in tests/device/device_tests tests/app/app_tests tests/serial/serial_tests tests/sim/sim_tests tests/cli/cli_tests tests/table/table_tests; do \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(TSAN_BUILD)/$$t --gtest_brief=1; \
	done

bench: build
	@bash scripts/run-benchmarks.sh $(BUILD)

# The Debian package, $(BUILD)/vantor-radio-config_<version>_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

# The package's fields and files, and its programs run from where it was unpacked (nothing installed).
package-check: package
	bash packaging/check-package.sh $(BUILD)

# The Windows build: every layer without Qt, vantorctl.exe and their tests, cross-compiled with mingw-w64
# into $(WIN_BUILD)/; like `make build`, it installs what it needs first.
$(WIN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake

windows-deps:
	@bash scripts/install-deps.sh windows

windows: windows-deps $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The Windows tests under wine, then vantorctl.exe against the simulated device (of the Linux build) on a
# COM port of wine's, compared byte for byte with the Linux vantorctl, and both read-all times.
test-windows: build windows
	bash scripts/test-windows.sh $(BUILD) $(WIN_BUILD) $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD)

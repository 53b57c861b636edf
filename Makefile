# The two commands a newcomer needs: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc)

.PHONY: all deps build run test test-asan test-tsan fuzz bench package package-check windows-deps windows test-windows windows-package windows-package-check clean

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

# Every fuzz target built with clang, ASan and UBSan into build-fuzz/ and run for FUZZ_SECONDS each from
# its committed corpus, its mutations following FUZZ_SEED (0: one of libFuzzer's choosing);
# FUZZ_COVERAGE=1 also reports the lines each reaches.
FUZZ_SECONDS ?= 60
FUZZ_SEED ?= 1
fuzz:
	bash scripts/fuzz.sh --seconds $(FUZZ_SECONDS) --seed $(FUZZ_SEED) $(if $(FUZZ_COVERAGE),--coverage)

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

# The Windows installer, $(WIN_BUILD)/vantor-radio-config-<version>-setup.exe, made with NSIS from
# packaging/windows/installer.nsi: the window ($(WIN_WINDOW_EXE)) and vantorctl.exe of the Windows build,
# stripped of their debugging information as the Debian package's programs are, with the version of the
# CMake project that build was configured with.
WIN_WINDOW_EXE ?= $(WIN_BUILD)/ui-win32/vantor-radio-config.exe
# strip stamps the time it runs into a program's header, unless told a time: each stripped program keeps the
# time it was linked (the header's, at the offset that the DOS header's 0x3C gives, plus 8).
win_strip = SOURCE_DATE_EPOCH=$$(od -An -tu4 -j $$(($$(od -An -tu4 -j 60 -N4 $(1)) + 8)) -N4 $(1) | tr -d ' ') \
	  x86_64-w64-mingw32-strip -o $(2) $(1)
windows-package: windows
	@version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(WIN_BUILD)/CMakeCache.txt); \
	[ -n "$$version" ] || { echo "windows-package: no project version in $(WIN_BUILD)/CMakeCache.txt" >&2; exit 1; }; \
	for exe in $(WIN_WINDOW_EXE) $(WIN_BUILD)/cli/vantorctl.exe; do \
	  [ -f "$$exe" ] || { echo "windows-package: no $$exe: it is not built" >&2; exit 1; }; \
	done; \
	set -e; rm -rf $(WIN_BUILD)/installer-files; mkdir $(WIN_BUILD)/installer-files; \
	$(call win_strip,$(WIN_WINDOW_EXE),$(WIN_BUILD)/installer-files/vantor-radio-config.exe); \
	$(call win_strip,$(WIN_BUILD)/cli/vantorctl.exe,$(WIN_BUILD)/installer-files/vantorctl.exe); \
	echo "makensis packaging/windows/installer.nsi: $(WIN_BUILD)/vantor-radio-config-$$version-setup.exe"; \
	makensis -V2 -WX -DVERSION="$$version" \
	  -DWINDOW_EXE="$(abspath $(WIN_BUILD)/installer-files/vantor-radio-config.exe)" \
	  -DVANTORCTL_EXE="$(abspath $(WIN_BUILD)/installer-files/vantorctl.exe)" \
	  -DOUTFILE="$(abspath $(WIN_BUILD))/vantor-radio-config-$$version-setup.exe" \
	  packaging/windows/installer.nsi

# The installer under wine: silent installs for the current user and for all users, what they put where,
# the installed programs run, then the uninstallers, and nothing left behind.
windows-package-check: windows-package
	WIN_WINDOW_EXE=$(abspath $(WIN_WINDOW_EXE)) bash packaging/windows/check-installer.sh $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD)

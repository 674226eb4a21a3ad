# The two commands: `make run` and `make test`. Both install what is missing, then build.
# Each target installs only what its purpose needs (scripts/install-deps PURPOSE).
BUILD ?= build
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j2

.PHONY: all run test package sanitize fuzz bench clean

all:
	@scripts/install-deps test
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

# Only the two programs: the tests and benchmarks are neither installed for nor built here.
run:
	@scripts/install-deps run
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) --target velmorquin-extractor vdat
	@scripts/run-app $(BUILD)

test: all
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest $(CTEST_FLAGS)

# The Debian package, $(BUILD)/velmorquin-extractor_<version>_<arch>.deb.
package:
	@scripts/install-deps package
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) --target package

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own build folder.
sanitize:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS="-DVDAT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# Fuzzes the archive reader and extraction with libFuzzer (clang, ASan+UBSan) in build-fuzz.
FUZZ_SECONDS ?= 600
fuzz:
	@scripts/fuzz $(FUZZ_SECONDS)

# Times vdat against unzip, bsdtar and 7z (bench/compare; docs/performance.md).
bench: all
	@scripts/install-deps bench
	@bench/compare --build $(BUILD)

clean:
	rm -rf build build-asan

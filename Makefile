# The two commands: `make run` and `make test`. Both install what is missing, then build.
BUILD ?= build
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j2

.PHONY: all deps configure build run test sanitize fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	@scripts/run-app $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest $(CTEST_FLAGS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own build folder.
sanitize:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS="-DVDAT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# Fuzzes the archive reader and extraction with libFuzzer (clang, ASan+UBSan) in build-fuzz.
FUZZ_SECONDS ?= 600
fuzz:
	@scripts/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan

# The two commands that matter:
#   make demo   builds setup.exe and runs the install run under Wine (comes with the demo)
#   make test   installs what it needs, builds everything and runs every test level
.PHONY: all deps windows host test test-host test-wine clean

BUILD := build
JOBS ?= $(shell nproc)

all: windows

deps:
	@scripts/install-deps.sh

# The 32-bit Windows executable, cross-compiled with mingw-w64.
windows: deps
	cmake -S . -B $(BUILD)/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DCMAKE_BUILD_TYPE=MinSizeRel $(CMAKE_ARGS)
	cmake --build $(BUILD)/windows -j $(JOBS)
	mkdir -p out && cp $(BUILD)/windows/setup.exe out/setup.exe

# The portable core and its unit tests on the host, with sanitizers.
host: deps
	cmake -S . -B $(BUILD)/host -G Ninja -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD)/host -j $(JOBS)

test: deps
	@scripts/run-tests.sh

clean:
	rm -rf $(BUILD) out

# The two commands that matter:
#   make demo   builds setup.exe and runs the install run under Wine (comes with the demo)
#   make test   installs what it needs, builds everything and runs every test level
# A vendor's release (docs/RELEASING.md):
#   make release TABLES=file CERT=chain.pem KEY=key.pem [ARCH=x86|x64] [KEY_PASS=...] [TIMESTAMP_URL=...]
#   make try PACKAGES=dir [TABLES=file] [CERT=chain.pem KEY=key.pem] [ARCH=x86|x64]
.PHONY: all deps demo windows windows-x86 windows-x64 host fuzz fuzz-build bench test clean release try

BUILD := build
JOBS ?= $(shell nproc)

all: windows

deps:
	@scripts/install-deps.sh

# The main job on a fresh machine: builds both setups and a demo variant, serves a signed demo
# package from a local HTTPS server and installs the product under Wine in four languages.
demo:
	python3 scripts/demo.py

# setup.exe built from TABLES for each architecture of ARCH (default both), signed with CERT
# and KEY (KEY_PASS, TIMESTAMP_URL are read from the environment, where make puts them),
# verified, into out/release/: x86 as setup.exe, x64 as x64/setup.exe.
release: deps
	@ARCH="$(ARCH)" scripts/release.sh "$(TABLES)" "$(CERT)" "$(KEY)"

# PACKAGES checked against TABLES, then a variant of the setup with its downloads on a local
# HTTPS server installs them under Wine, downloading and from beside it (build/try/).
# Also read from the environment: CERT, KEY, KEY_PASS, ARCH (the setup's: x86 or x64; by
# default x86 where the kernel runs 32-bit code, else x64), WINEARCH, UI_LEVEL, WINE_RELEASE.
try: deps
	@python3 scripts/try.py

# Both Windows executables, cross-compiled with mingw-w64 from the same core: out/setup.exe
# (x86, what a vendor ships) and out/x64/setup.exe (x86_64, for Windows without WOW64).
# ARCH=x86 or ARCH=x64 builds one of them.
ARCH ?= x86 x64
windows: deps
	@for a in $(ARCH); do $(MAKE) --no-print-directory windows-$$a || exit 1; done

windows-x86:
	cmake -S . -B $(BUILD)/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DCMAKE_BUILD_TYPE=MinSizeRel $(CMAKE_ARGS)
	cmake --build $(BUILD)/windows -j $(JOBS)
	mkdir -p out && cp $(BUILD)/windows/setup.exe out/setup.exe

windows-x64:
	cmake -S . -B $(BUILD)/windows-x64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	    -DCMAKE_BUILD_TYPE=MinSizeRel $(CMAKE_ARGS)
	cmake --build $(BUILD)/windows-x64 -j $(JOBS)
	mkdir -p out/x64 && cp $(BUILD)/windows-x64/setup.exe out/x64/setup.exe

# The portable core and its unit tests on the host, with sanitizers.
host: deps
	cmake -S . -B $(BUILD)/host -G Ninja -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(BUILD)/host -j $(JOBS)

# libFuzzer with ASan and UBSan over the command line, "InstallerLocation", "ProductSuite"
# and the message formatter. FUZZ_SECONDS per fuzzer; new inputs go to build/fuzz-corpus.
FUZZ_SECONDS ?= 600
FUZZERS := command_line installer_location product_suite message_format
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -G Ninja -DKAVRIN_FUZZ=ON \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/fuzz -j $(JOBS)

fuzz: fuzz-build
	@for f in $(FUZZERS); do \
	    mkdir -p $(BUILD)/fuzz-corpus/$$f; \
	    echo "== $$f for $(FUZZ_SECONDS) s"; \
	    $(BUILD)/fuzz/tests/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=$(BUILD)/fuzz-corpus/$$f- $(BUILD)/fuzz-corpus/$$f tests/fuzz/corpus/$$f \
	        || exit 1; \
	done

# Size and speed figures under Wine, with their floors, medians of BENCH_RUNS runs: the x86
# setup where the kernel runs 32-bit code, else the x64 one (BENCH_SETUP=path picks).
BENCH_RUNS ?= 5
bench: windows
	python3 scripts/bench.py $(BENCH_SETUP) --runs $(BENCH_RUNS)

test: deps
	@tests/run.sh

clean:
	rm -rf $(BUILD) out

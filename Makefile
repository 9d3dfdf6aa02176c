# The commands of the README, and what they are built from.
#   make demo   install what is missing, build the two tools, run them on the bundled example
#   make test   install what is missing, build everything, run every test
#   make bench  install what is missing, build (Release), run the throughput benchmark
#   make install [PREFIX=/usr/local] [DESTDIR=staging]   install the tools, manual pages, docs,
#                 and the reader library with its header, pkg-config file and CMake package
#   make package  build the Debian packages zelkor, libzelkor-reader1 and libzelkor-reader-dev
#                 (build/*_2.5.N_ARCH.deb)
#   make windows          cross-build for 64-bit Windows into build-windows/
#   make windows-test     the Windows build's tests, under Wine
#   make windows-package  build-windows/zelkor-VERSION-win64.zip

MAKEFLAGS  += --no-print-directory

BUILD_DIR  ?= build
# The Windows cross build (make windows), which make bench also measures.
WINDOWS_DIR ?= build-windows
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
ZELKOR     := $(BUILD_DIR)/zelkor
INSPECT    := $(BUILD_DIR)/zelkor-inspect

PREFIX     ?= /usr/local

# The Windows cross build's folder, defined here because make bench looks for it too.
WINDOWS_DIR ?= build-windows

.PHONY: all bootstrap configure build tools demo test bench clean install package

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The two tools alone, which is all the demo runs; make test builds the rest.
tools: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target zelkor zelkor-inspect

# The example scripts use paths relative to the project root and write below
# build/demo: first a script is generated for examples/assets (and a small
# archive packed by hand), then the generated script builds the main archive.
# Finally both archives are verified (config.pak has no key file, so the default
# finds none), and the main one is listed and drawn as a page (assets.pak.html).
DEMO_DIR := build/demo

demo: tools
	@rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	$(ZELKOR) examples/generate.xml examples/pack.xml
	$(ZELKOR) $(DEMO_DIR)/assets.xml
	@ls -l $(DEMO_DIR)
	$(INSPECT) verify $(DEMO_DIR)/assets.pak
	$(INSPECT) verify $(DEMO_DIR)/config.pak
	$(INSPECT) list $(DEMO_DIR)/assets.pak
	$(INSPECT) report $(DEMO_DIR)/assets.pak

# What the tests need beyond the build: an HTML parser and a browser, to read the
# report page of zelkor-inspect as they do, and a web server (nginx, with its
# WebDAV module) that the remote cache's tests start as its server.
TEST_PACKAGES := python3 python3-html5lib chromium nginx

test: build
	@scripts/bootstrap $(TEST_PACKAGES)
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The benchmark (bench/run_bench.py) measures side by side, in one run: the LZ4
# limit on one core, the archiver with one script and with one script per
# hardware thread, on one hardware thread, tar | lz4 -9, rebuilds with and
# without the cache (zip -FS of the same tree beside them), the archiver as it
# was at BENCH_BASELINE (the commit before pack commands loaded files in
# parallel), and its warm rebuild as it was at BENCH_BEFORE (the commit before
# sources were trusted by their status), each built once into build/bench.
# Results go to build/bench/latest.json.
#   make bench BENCH_MB=32 BENCH_REPS=5   smaller corpus, more repetitions
#   make bench BENCH_BASELINE= BENCH_BEFORE=   without the "before" figures
#   make bench BENCH_LARGE_MB=1536   the three incompressible sources' size (0: left out)
#   make bench BENCH_LEVELS="9 12" BENCH_LEVEL_PACKAGE=supertuxkart-data
#       levels side by side, on the files of that Debian package (installed first),
#       and rebuilds of its tree after one file and 1% of its files changed, against zip -FS
# With the Windows build in WINDOWS_DIR (make windows), it runs under Wine too.
BENCH_MB       ?= 128
BENCH_REPS     ?= 5
BENCH_BASELINE ?= 0aae028
BENCH_BEFORE   ?= 9354c66
BENCH_LARGE_MB ?=
BENCH_LEVELS   ?=
BENCH_LEVEL_PACKAGE ?=
BENCH_DIR      := $(BUILD_DIR)/bench
BASELINE_DIR   := $(BENCH_DIR)/baseline-$(BENCH_BASELINE)
BEFORE_DIR     := $(BENCH_DIR)/before-$(BENCH_BEFORE)

# $(call archiver_at,COMMIT,DIR,VARIABLE): the archiver at COMMIT, built once in DIR/build.
# A clone without that commit (a shallow one) builds nothing and says so; the
# benchmark then leaves those figures out.
define archiver_at
	@if [ ! -x $(2)/build/zelkor ]; then \
	  if ! git cat-file -e '$(1)^{commit}' 2>/dev/null; then \
	    echo "make bench: commit $(1) is not in this clone (a shallow one?), so its figures are left out; fetch it, or say $(3)= to leave them out quietly" >&2; \
	    exit 0; \
	  fi; \
	  echo "Building the archiver at $(1) for comparison"; \
	  rm -rf $(2) && mkdir -p $(2)/src && \
	  git archive $(1) | tar -x -C $(2)/src && \
	  cmake -S $(2)/src -B $(2)/build -DCMAKE_BUILD_TYPE=Release \
	        -DZELKOR_BUILD_TESTS=OFF >/dev/null && \
	  cmake --build $(2)/build -j $(JOBS) --target zelkor >/dev/null; \
	fi
endef

BENCH_ARGS := --build $(BUILD_DIR) --out $(BENCH_DIR) --mb $(BENCH_MB) --reps $(BENCH_REPS) \
              --windows-build $(WINDOWS_DIR)
ifneq ($(BENCH_BASELINE),)
BENCH_ARGS += --baseline $(BASELINE_DIR)/build/zelkor
endif
ifneq ($(BENCH_BEFORE),)
BENCH_ARGS += --before $(BEFORE_DIR)/build/zelkor
endif
ifneq ($(BENCH_LARGE_MB),)
BENCH_ARGS += --large-mb $(BENCH_LARGE_MB)
endif
ifneq ($(BENCH_LEVELS),)
BENCH_ARGS += --levels "$(BENCH_LEVELS)"
endif
ifneq ($(BENCH_LEVEL_PACKAGE),)
BENCH_ARGS += --level-package $(BENCH_LEVEL_PACKAGE)
endif

bench:
	@scripts/bootstrap lz4 python3 zstd nginx zip time libphysfs-dev $(BENCH_LEVEL_PACKAGE)
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DZELKOR_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target zelkor zelkor-inspect corpus_generator lz4_limit reader_bench
ifneq ($(BENCH_BASELINE),)
	$(call archiver_at,$(BENCH_BASELINE),$(BASELINE_DIR),BENCH_BASELINE)
endif
ifneq ($(BENCH_BEFORE),)
	$(call archiver_at,$(BENCH_BEFORE),$(BEFORE_DIR),BENCH_BEFORE)
endif
	python3 bench/run_bench.py $(BENCH_ARGS)

clean:
	@rm -rf $(BUILD_DIR)

# DESTDIR, when given, stages the installation below another root.
install: build
	@DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: build
	@scripts/bootstrap dpkg-dev file
	@rm -f $(BUILD_DIR)/*.deb
	@cd $(BUILD_DIR) && cpack -G DEB >/dev/null && ls -1 $(CURDIR)/$(BUILD_DIR)/*.deb

# Sanitizer builds of the whole test suite, each in its own build folder, with
# clang: AddressSanitizer with UndefinedBehaviorSanitizer, and ThreadSanitizer.
SANITIZER_PACKAGES := clang libclang-rt-14-dev

.PHONY: test-asan test-tsan fuzz

test-asan:
	@scripts/bootstrap $(SANITIZER_PACKAGES) $(TEST_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B build-asan -DZELKOR_SANITIZER=address -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan:
	@scripts/bootstrap $(SANITIZER_PACKAGES) $(TEST_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B build-tsan -DZELKOR_SANITIZER=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@scripts/run-tsan-tests build-tsan $(JOBS)

# libFuzzer targets (tests/fuzz), each run for FUZZ_SECONDS from its seed corpus.
FUZZ_SECONDS ?= 60

fuzz:
	@scripts/bootstrap $(SANITIZER_PACKAGES)
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DZELKOR_SANITIZER=fuzz -DZELKOR_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

# The Windows cross build (mingw-w64, posix threads, everything static) in
# WINDOWS_DIR. Its libraries are built once from Debian's sources into
# WINDOWS_DEPS and reused while their Debian versions stay the same; every
# program and DLL is then checked to import system DLLs alone (or the reader
# library's DLL, checked with them).
WINDOWS_DEPS      ?= $(WINDOWS_DIR)/deps
WINDOWS_TOOLCHAIN := $(CURDIR)/cmake/mingw-w64-x86_64.cmake

.PHONY: windows windows-test windows-package

windows:
	@scripts/bootstrap-windows
	@scripts/build-windows-deps $(WINDOWS_DEPS)
	@cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=$(WINDOWS_TOOLCHAIN) \
	       -DZELKOR_WINDOWS_DEPS=$(abspath $(WINDOWS_DEPS)) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_DIR) -j $(JOBS)
	@scripts/check-windows-imports $$(find $(WINDOWS_DIR) \( -name '*.exe' -o -name '*.dll' \) \
	       -not -path '$(WINDOWS_DEPS)/*' -not -path '$(WINDOWS_DIR)/wine/*' -not -path '*/CMakeFiles/*')

# The Linux build too: one test compares the Windows build's archives with its,
# another has agents of both share a remote cache on nginx.
windows-test: windows build
	@scripts/bootstrap python3 nginx
	@scripts/run-windows-tests $(WINDOWS_DIR)

windows-package: windows
	@scripts/package-windows $(WINDOWS_DIR)

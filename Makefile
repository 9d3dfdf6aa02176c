# The two commands of the README, and what they are built from.
#   make demo   install what is missing, build, run the tool on the bundled example
#   make test   install what is missing, build, run every test

MAKEFLAGS  += --no-print-directory

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
ZELKOR     := $(BUILD_DIR)/zelkor
INSPECT    := $(BUILD_DIR)/zelkor-inspect

.PHONY: all bootstrap configure build demo test clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The example scripts use paths relative to the project root and write below
# build/demo: first a script is generated for examples/assets (and a small
# archive packed by hand), then the generated script builds the main archive.
# Finally both archives are verified (config.pak has no key file, so the default
# finds none) and the main one is listed.
DEMO_DIR := build/demo

demo: build
	@rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	$(ZELKOR) examples/generate.xml examples/pack.xml
	$(ZELKOR) $(DEMO_DIR)/assets.xml
	@ls -l $(DEMO_DIR)
	$(INSPECT) verify $(DEMO_DIR)/assets.pak
	$(INSPECT) verify $(DEMO_DIR)/config.pak
	$(INSPECT) list $(DEMO_DIR)/assets.pak

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD_DIR)

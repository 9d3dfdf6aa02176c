# The two commands of the README, and what they are built from.
#   make demo   install what is missing, build, run the tool on the bundled example
#   make test   install what is missing, build, run every test

MAKEFLAGS  += --no-print-directory

BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
ZELKOR     := $(BUILD_DIR)/zelkor

.PHONY: all bootstrap configure build demo test clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Paths in the example script are relative to the project root; everything it
# writes goes below $(BUILD_DIR)/demo.
demo: build
	@mkdir -p $(BUILD_DIR)/demo
	$(ZELKOR) examples/demo.xml

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD_DIR)

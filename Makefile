# Front door of the project: every target installs what is missing first.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
SANITIZE ?=
CMAKE_FLAGS ?=
JOBS ?= 2

# Options of `make run`, e.g. make run ARGS="--listen 9000".
ARGS ?=
# Where `make install` puts the product.
PREFIX ?= /usr/local

.PHONY: all deps deps-test build test run install package bench sanitize tsan check fuzz \
        fuzz-regress clean

all: build

# What building and running the site need.
deps:
	@bash scripts/install-deps.sh build

# That and the test tools (GoogleTest, clang, PostgreSQL, chromium, Node).
deps-test:
	@bash scripts/install-deps.sh test

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DSANITIZE=$(SANITIZE) $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Configured again after the test tools came, so that the tests are built.
test: deps-test $(BUILD_DIR)/build.ninja
	cmake $(BUILD_DIR) >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The chat site on 127.0.0.1:8080 with demo data in ./data (made when
# missing); only the program and its module are built.
run: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zelto ZeltoCom
	$(BUILD_DIR)/bin/zelto serve --data data --demo $(ARGS)

# The product into PREFIX (bin, lib/zelto, share/zelto, the service unit).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: deps-test build
	@bash bench/run.sh $(BUILD_DIR)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD_DIR=build-san BUILD_TYPE=Debug SANITIZE=address,undefined

# Every native suite under ThreadSanitizer (a race fails it).
tsan:
	$(MAKE) test BUILD_DIR=build-tsan BUILD_TYPE=Debug SANITIZE=thread

# The deeper checks CI runs after `make test`: both sanitizer passes and every
# fuzz target over its corpus for a short bounded time.
check: sanitize tsan fuzz-regress

# libFuzzer targets (clang, in build-fuzz): every target for FUZZ_SECONDS
# (default 60) on a working copy of its corpus; fuzz-regress replays the
# seed corpora and runs each target briefly (10 s), failing on any finding.
fuzz: deps-test
	FUZZ_SECONDS=$(or $(FUZZ_SECONDS),60) bash scripts/fuzz.sh run

fuzz-regress: deps-test
	FUZZ_SECONDS=$(or $(FUZZ_SECONDS),10) bash scripts/fuzz.sh regress

clean:
	rm -rf build build-san build-fuzz build-tsan

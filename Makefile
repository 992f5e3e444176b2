# The two set-up commands of the README:
#   make run    install dependencies, build, start Cassora
#   make test   install dependencies, build, run every test
#   make install PREFIX=DIR   build and install under DIR (/usr/local)
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: deps configure build run test install clean

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	$(BUILD_DIR)/app/cassora

test: build
	scripts/with-audio-server ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS) --timeout 300

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR)

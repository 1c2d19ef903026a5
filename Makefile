# The two commands of the README: `make run` and `make test`. Each first
# installs the Debian packages it lacks.
BUILD ?= build
DIST := $(CURDIR)/dist
CMAKE_GENERATOR := -G Ninja

.PHONY: run test deps native-configure native win32 win64 dist clean

# The default road on the simulated machine: only the runner is built.
run: deps native-configure
	cmake --build $(BUILD)/native --target vrinsim
	$(BUILD)/native/tools/vrinsim/vrinsim run install-and-remove

test: dist native
	ctest --test-dir $(BUILD)/native --output-on-failure -j 2

deps:
	@tools/install-deps.sh

native-configure: deps
	cmake -S . -B $(BUILD)/native $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVRINCA_CROSS_TESTS=ON -DVRINCA_DIST_DIR=$(DIST)

native: native-configure
	cmake --build $(BUILD)/native

win32: deps
	cmake -S . -B $(BUILD)/win32 $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
	cmake --build $(BUILD)/win32

win64: deps
	cmake -S . -B $(BUILD)/win64 $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
	cmake --build $(BUILD)/win64

dist: win32 win64
	mkdir -p $(DIST)/win32 $(DIST)/win64
	cp $(BUILD)/win32/vrinca.dll $(DIST)/win32/vrinca.dll
	cp $(BUILD)/win64/vrinca.dll $(DIST)/win64/vrinca.dll
	cp $(BUILD)/win64/vrinca_probe.exe $(DIST)/win64/vrinca_probe.exe

clean:
	rm -rf $(BUILD) $(DIST)

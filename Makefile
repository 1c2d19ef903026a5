# The two commands of the README: `make run` and `make test`. Each first
# installs the Debian packages it lacks.
BUILD ?= build
DIST := $(CURDIR)/dist
CMAKE_GENERATOR := -G Ninja

.PHONY: run test deps native-configure native sanitize fuzz win32 win64 dist packages compare clean

# The default road on the simulated machine: only the runner is built.
run: deps native-configure
	cmake --build $(BUILD)/native --target vrinsim
	$(BUILD)/native/tools/vrinsim/vrinsim run install-and-remove

# The sanitizer build runs the native suites and each fuzz target over its
# kept corpus; any sanitizer report fails the test that made it. The sweeps of
# the road tests' roads (15 minutes under the sanitizers for the failing
# calls) run in the native build only; the bundled scenarios' sweep, failing
# calls and over-long texts, runs in both.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
FUZZ_SECONDS ?= 60

# The 32-bit Wine tier skips where the kernel refuses i386 programs; say so
# where nobody can miss it, since then the shipped DLL did not run.
I386_CHECK = $(BUILD)/native/tools/wine/i386_check 2>/dev/null; \
  [ $$? -eq 32 ] || echo "*** 32-bit Wine tier SKIPPED: this kernel does not run i386 programs; the shipped win32 DLL was not run under Wine ***"

test: dist native sanitize
	ctest --test-dir $(BUILD)/native --output-on-failure -j 2
	@$(I386_CHECK)
	$(SANITIZER_ENV) ctest --test-dir $(BUILD)/sanitize --output-on-failure -j 2 -LE 'wine|static' \
	  -E 'FaultSweepTest.BundledRoadsHoldEveryInvariant'

deps:
	@tools/install-deps.sh

native-configure: deps
	cmake -S . -B $(BUILD)/native $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVRINCA_CROSS_TESTS=ON -DVRINCA_DIST_DIR=$(DIST)

native: native-configure
	cmake --build $(BUILD)/native

# The native library, host, tests and fuzz targets under clang with ASan,
# UBSan and LSan.
sanitize: deps
	cmake -S . -B $(BUILD)/sanitize $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVRINCA_SANITIZE=ON
	$(SANITIZER_ENV) cmake --build $(BUILD)/sanitize

# Each fuzz target for FUZZ_SECONDS seconds.
fuzz: sanitize
	$(SANITIZER_ENV) tools/fuzz.sh $(BUILD)/sanitize $(FUZZ_SECONDS)

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
	cp $(BUILD)/win32/vrinca_probe.exe $(DIST)/win32/vrinca_probe.exe
	cp $(BUILD)/win64/vrinca_probe.exe $(DIST)/win64/vrinca_probe.exe
	for arch in win32 win64; do \
	  cp $(BUILD)/$$arch/vrinsim_actions.dll $(BUILD)/$$arch/vrinsim_master_setup.exe $(DIST)/$$arch/; \
	done

# vrinsim compare over every bundled scenario on both architectures of the
# Wine engine; the 32-bit one skips loudly where this kernel cannot run it.
VRINSIM := $(BUILD)/native/tools/vrinsim/vrinsim
compare: dist native-configure
	cmake --build $(BUILD)/native --target vrinsim
	@status=0; for arch in win32 win64; do \
	  tools/vrinsim/compare-bundled.sh $(VRINSIM) $$arch; result=$$?; \
	  [ $$result -eq 0 ] || [ $$result -eq 77 ] || status=1; \
	done; exit $$status

# The integration kit's example packages (packaging/) around the shipped
# 32-bit DLL: dist/packages/consumer.msi, server-only.msi and setup.msi.
packages: dist
	packaging/build-examples.sh win32 $(DIST)/win32/vrinca.dll $(DIST)/packages

clean:
	rm -rf $(BUILD) $(DIST)

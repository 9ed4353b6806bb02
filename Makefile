# Cronalto from a fresh clone of a Debian 12 machine:
#
#   make run     install what is missing, build, create the demo database when
#                there is none, start the program
#   make test    build everything and run the test suite on SQLite, then on a
#                throwaway PostgreSQL server
#   make bench   build and run the benchmarks
#   make fuzz    build the libFuzzer targets with clang in build-fuzz/
#   make format  clang-format every C++ source and header
#   make clean   remove build/ and build-fuzz/
#
# The machine has two cores shared with others, hence JOBS=2.

BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= 2
CMAKE ?= cmake
CTEST ?= ctest

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
# Each recipe is one shell script, so variables and traps live for all of it.
.ONESHELL:

CONFIGURE = $(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	-DKELDO_BUILD_TESTS=ON -DKELDO_BUILD_APP=ON -DKELDO_BUILD_FUZZ=OFF

.DEFAULT_GOAL := build
.PHONY: build deps configure run test bench fuzz format clean

deps:
	@scripts/install-deps.sh

configure: deps
	@echo "+ $(CONFIGURE)"
	$(CONFIGURE)

build: configure
	@echo "+ $(CMAKE) --build $(BUILD_DIR) -j$(JOBS)"
	$(CMAKE) --build $(BUILD_DIR) -j$(JOBS)

run: configure
	@targets=(keldoctl)
	# The shell joins the build once src/app exists.
	if [ -f src/app/CMakeLists.txt ]; then targets+=(keldo); fi
	echo "+ $(CMAKE) --build $(BUILD_DIR) -j$(JOBS) --target $${targets[*]}"
	$(CMAKE) --build $(BUILD_DIR) -j$(JOBS) --target "$${targets[@]}"
	bin=$$(cd $(BUILD_DIR) && pwd)
	# The same default as the program's: a relative XDG_DATA_HOME is ignored.
	if [ -z "$${KELDO_ROOT:-}" ]; then
	    data=$${XDG_DATA_HOME:-}
	    case "$$data" in /*) ;; *) data=$$HOME/.local/share ;; esac
	    KELDO_ROOT=$$data/keldoran
	fi
	export KELDO_ROOT
	mkdir -p "$$KELDO_ROOT/c"
	# C:\KELDORAN32 may already exist under another case.
	prog=$$(find "$$KELDO_ROOT/c" -mindepth 1 -maxdepth 1 -type d -iname keldoran32 -print -quit)
	if [ -z "$$prog" ]; then
	    prog=$$KELDO_ROOT/c/KELDORAN32
	    mkdir -p "$$prog"
	fi
	cd "$$prog"
	# keldoctl refuses to create a database over an existing one, whatever
	# engine the alias names; that refusal means the database is there.
	if out=$$("$$bin/src/cli/keldoctl" init-db --demo 2>&1); then
	    echo "$$out"
	else
	    case "$$out" in
	    *"Já existe"*) echo "$$out" ;;
	    *) echo "$$out" >&2; exit 1 ;;
	    esac
	fi
	if [ -x "$$bin/src/app/keldo" ]; then
	    echo "+ (cd $$prog && $$bin/src/app/keldo)"
	    exec "$$bin/src/app/keldo"
	fi
	echo "The keldo program is not part of the build yet."
	echo "KELDO_ROOT=$$KELDO_ROOT; program folder $$prog"

test: build
	@tmp=$$(mktemp -d /tmp/keldo-test.XXXXXX)
	trap 'rm -rf "$$tmp"' EXIT
	mkdir -p "$$tmp/sqlite" "$$tmp/postgresql"
	export QT_QPA_PLATFORM=offscreen
	ctest_args=(--test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS) --no-tests=error)
	# Both passes run even when the first fails, so one run shows every failure.
	echo "== Test suite on SQLite"
	sqlite=0
	env -u KELDO_TEST_PG KELDO_ROOT="$$tmp/sqlite" \
	    $(CTEST) "$${ctest_args[@]}" 2>&1 | tee "$$tmp/sqlite.log" || sqlite=$$?
	echo "== Test suite on PostgreSQL"
	postgresql=0
	KELDO_ROOT="$$tmp/postgresql" scripts/pg-cluster.sh \
	    $(CTEST) "$${ctest_args[@]}" 2>&1 | tee "$$tmp/postgresql.log" || postgresql=$$?
	passed=0
	failed=0
	summary() {
	    local line
	    line=$$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$$tmp/$$1.log" | tail -n 1 || true)
	    if [ -z "$$line" ]; then
	        echo "$$2: no test summary (exit status $$3)"
	        return
	    fi
	    echo "$$2: $$line"
	    local f t
	    read -r f t < <(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/' <<<"$$line")
	    passed=$$((passed + t - f))
	    failed=$$((failed + f))
	}
	echo "== Summary"
	summary sqlite "SQLite" "$$sqlite"
	summary postgresql "PostgreSQL" "$$postgresql"
	echo "total: $$passed passed, $$failed failed"
	[ "$$sqlite" = 0 ] && [ "$$postgresql" = 0 ]

bench: deps
	@echo "+ $(CONFIGURE) -DKELDO_BUILD_BENCH=ON"
	$(CONFIGURE) -DKELDO_BUILD_BENCH=ON
	echo "+ $(CMAKE) --build $(BUILD_DIR) -j$(JOBS)"
	$(CMAKE) --build $(BUILD_DIR) -j$(JOBS)
	tmp=$$(mktemp -d /tmp/keldo-bench.XXXXXX)
	trap 'rm -rf "$$tmp"' EXIT
	export KELDO_ROOT=$$tmp QT_QPA_PLATFORM=offscreen
	# bench/ may provide its own driver; otherwise every bench_* program runs.
	runner=$(BUILD_DIR)/bench/run-all.sh
	if [ -f "$$runner" ]; then
	    echo "+ $$runner"
	    if [ -x "$$runner" ]; then "$$runner"; else bash "$$runner"; fi
	    exit
	fi
	benches=()
	if [ -d $(BUILD_DIR)/bench ]; then
	    mapfile -t benches < <(find $(BUILD_DIR)/bench -type f -name 'bench_*' -executable \
	        -not -path '*/CMakeFiles/*' | sort)
	fi
	if [ $${#benches[@]} -eq 0 ]; then
	    echo "No benchmark under $(BUILD_DIR)/bench."
	    exit 0
	fi
	status=0
	for b in "$${benches[@]}"; do
	    echo "== $$b"
	    "$$b" || status=1
	done
	exit $$status

fuzz: deps
	@configure=(-S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DKELDO_BUILD_FUZZ=ON \
	    -DKELDO_BUILD_APP=ON -DKELDO_BUILD_TESTS=OFF)
	echo "+ CC=clang CXX=clang++ $(CMAKE) $${configure[*]}"
	CC=clang CXX=clang++ $(CMAKE) "$${configure[@]}"
	echo "+ $(CMAKE) --build $(FUZZ_DIR) -j$(JOBS)"
	$(CMAKE) --build $(FUZZ_DIR) -j$(JOBS)
	echo "Fuzz targets are under $(FUZZ_DIR)/fuzz."

format: deps
	@dirs=($(wildcard src tests bench fuzz sim))
	find "$${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 -r clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR)

# Two entry points for a newcomer: `make example` and `make test`.
BUILD ?= build
JOBS ?= 2
# Further CMake settings, e.g. CMAKE_ARGS=-DFORESTS_WERROR=ON
CMAKE_ARGS ?=
EXAMPLE_RESULTS = sample.txt.importance sample_SNP.txt.importance bramble.txt.count

.PHONY: build example test clean

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DFORESTS_TESTS=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

# Runs each program on its shipped example in $(BUILD)/example-run and draws the results.
example: build
	rm -rf $(BUILD)/example-run && mkdir -p $(BUILD)/example-run
	cp examples/*.txt $(BUILD)/example-run/
	cd $(BUILD)/example-run && ../kestrel/kestrel -t sample.txt -seed 7
	cd $(BUILD)/example-run && ../plover/plover -t sample_SNP.txt -seed 7 -p predict_SNP.txt
	cd $(BUILD)/example-run && ../wren/wren -t bramble.txt -p predict.txt
	@# The pictures need matplotlib; without it forest-plot says how to get it (status 3).
	@echo; plot/forest-plot $(addprefix $(BUILD)/example-run/,$(EXAMPLE_RESULTS)) || [ $$? -eq 3 ]
	@echo; echo "Results in $(BUILD)/example-run:"; ls $(BUILD)/example-run | grep -v '\.txt$$' || true
	@echo; cat $(BUILD)/example-run/sample.txt.importance
	@echo; head -8 $(BUILD)/example-run/sample_SNP.txt.importance
	@echo; cat $(BUILD)/example-run/bramble.txt.count

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

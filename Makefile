# Thin wrapper over CMake: `make demo` runs both programs on the examples,
# `make test` builds and runs every test.
BUILD ?= build

.PHONY: all demo test sanitize clean

all:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j2

# The relationship-form table is read from the current directory.
demo: all
	cd examples && ../$(BUILD)/form/form_kernel_width unlabelled.txt
	cd examples && ../$(BUILD)/labelled/labelled_kernel_width labelled.txt

test:
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON
	cmake --build $(BUILD) -j2
	ctest --test-dir $(BUILD) --output-on-failure

sanitize:
	cmake -S . -B build-sanitize -DBUILD_TESTING=ON -DSANITIZE=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-sanitize -j2
	ctest --test-dir build-sanitize --output-on-failure

clean:
	rm -rf $(BUILD) build-sanitize

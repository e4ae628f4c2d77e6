# cmake --graphviz (scripts/link-graph): our libraries and programs and what they link; the tests,
# benchmarks, fuzz harnesses and Qt's generated targets are left out of the picture.
set(GRAPHVIZ_IGNORE_TARGETS "^tests_" "^bench" "^fuzz_" "^host_app_test" "_autogen" "^GTest"
    "^benchmark" "^Qt6::.*Private" "^simdjson" "^nlohmann")
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)

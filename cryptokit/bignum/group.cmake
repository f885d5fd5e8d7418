# The unrolled Montgomery kernels run fastest at -O2 for the generic x86-64
# target; higher optimisation levels and -march=native measured slower.
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/bignum/qn_mont_fixed.cpp
  TARGET_DIRECTORY qk_bignum PROPERTIES COMPILE_OPTIONS "-O2")

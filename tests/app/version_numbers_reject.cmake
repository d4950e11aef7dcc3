# Helper of version_numbers_test.cmake: spells one version, which is expected to fail.
include(${MODULE})
velmora_version_record_numbers("${MAJOR}" "${MINOR}" "${REVISION}" text fixed)

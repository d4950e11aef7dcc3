# Sent in real time without a burst, a station leaves the player a margin of tens of
# milliseconds: beside the soak, which decodes as fast as a core allows, the machine's own
# delays would be heard as the player's.
set_tests_properties(
    PlayerPipelineTest.APacedStationWithoutABurstNeverRefillsFirstOrAfterAReconnect
    PROPERTIES RUN_SERIAL TRUE)

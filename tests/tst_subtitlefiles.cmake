set_tests_properties(tst_subtitlefiles PROPERTIES LABELS "subtitles")

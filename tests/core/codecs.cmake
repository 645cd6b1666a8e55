corvane_add_test(tst_codecs LABEL core SOURCES tst_codecs.cpp LIBS corvane_core)
corvane_add_test(tst_inifile LABEL core SOURCES tst_inifile.cpp LIBS corvane_core)

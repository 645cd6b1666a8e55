corvane_add_test(tst_codecs LABEL serial SOURCES tst_codecs.cpp LIBS corvane_serial)
corvane_add_test(tst_inifile LABEL serial SOURCES tst_inifile.cpp LIBS corvane_serial)

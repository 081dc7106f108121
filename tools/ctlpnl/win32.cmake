# A desktop program, which the launcher starts once it is copied to
# C:\Windows (by the tests under Wine, or by hand).
zk_program(ctlpnl SOURCES win32.cpp)

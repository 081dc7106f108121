// The one applet page the stand-in control panel has, and what it says.
// Literals are narrow so that L"" in front makes them wide.
#pragma once

// The stylus alignment page: applet file cplmain.cpl, page 7.
#define CTLPNL_ALIGNMENT_PAGE "cplmain.cpl,7"

#define CTLPNL_TITLE "Control Panel"
#define CTLPNL_ALIGNMENT_NOTICE \
    "The stylus alignment page is open (cplmain.cpl, page 7). Tap the centre of each target to align the stylus."
// Followed by the command line it was given, in quotes.
#define CTLPNL_UNKNOWN_NOTICE "This control panel has no applet "

// Each start appends its command line, one line in UTF-8, to this file
// beside the program.
#define CTLPNL_LOG "ctlpnl.log"

#pragma once

#include "common/appstate.h"

class QWidget;

// mnuFileClear: after the user confirms, sets every account's counters to 0 and
// its last check to "N/A" in one rewrite of Acc.dat (all records or none), then
// says so. CurrentAccount is left holding the last record in its reset form. A
// store that cannot be rewritten is reported with its cause and keeps every
// record as it was.
void ClearAccountsDetails(QWidget* owner, AppState& state);

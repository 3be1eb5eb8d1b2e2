#pragma once
// The "Options" command of the main window: shows the options dialog for the
// current rotator and applies what the operator confirmed.

#include <functional>

class TMain;
class TOptions;

// Shows the dialog modally and returns its result; tests put their own in
// place of the dialog's exec().
using TShowOptions = std::function<int(TOptions &Options)>;

// Fills a new options dialog from the main window's control-table switch,
// the current rotator's settings block and its driver, and shows it. When it
// closes with OK (it has then written the control table file): closes the
// current rotator's port, applies the values to the switch, the block and the
// driver, writes the settings document, opens the port again when the
// rotator opens automatically, refreshes the rotator's page and reloads the
// window's control table from the file. Nothing is changed on Cancel.
//
// Throws when the control table file can't be read (the dialog is then not
// shown, or, after OK, the window is left without a table) or the block holds
// a flag that is not a Boolean; the caller shows the error. Once the values
// are applied, a settings document that can't be written and a page that
// can't be shown (an unreadable map file) are reported and the remaining
// steps still run, so that the port, the page and the window's table follow
// the settings now in force.
void ExecuteOptions(TMain &Main, const TShowOptions &Show = {});

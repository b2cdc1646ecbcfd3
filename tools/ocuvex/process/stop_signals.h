// The signals that end the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE) turned into the stop request of the job that runs: the first one
// asks the job to stop, so that it removes its temporary output and reports;
// a second one ends the process at once, after removing the file named by
// set_signal_cleanup_path().
#pragma once

#include <string>

#include "media/stop_request.h"

namespace ocuvex::process {

// The process's one stop request, which the handlers make with the signal's
// number as the reason.
media::StopRequest& stop_request();

void install_stop_handlers();

// The file (or folder of files) a second signal removes before the process
// ends; empty: none.
void set_signal_cleanup_path(const std::string& path);

}  // namespace ocuvex::process

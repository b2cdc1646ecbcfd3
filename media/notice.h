// A line for the user on what a job does that they may not expect: a note
// (a stream converted for the container, another pixel format than the
// source's), or a warning (something left out that the input carries).
#pragma once

#include <string>
#include <vector>

namespace ocuvex::media {

struct Notice {
    bool warning = false;
    std::string text;
};

using Notices = std::vector<Notice>;

}  // namespace ocuvex::media

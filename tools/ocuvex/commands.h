// The subcommands of the ocuvex tool. Each takes the arguments after its
// name and returns the process exit status.
#pragma once

#include <span>
#include <string_view>

namespace ocuvex::cli {

int run_raw(std::span<const std::string_view> args);
int run_geometry(std::span<const std::string_view> args);
int run_convert(std::span<const std::string_view> args);

}  // namespace ocuvex::cli

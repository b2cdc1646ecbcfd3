// An output written to a temporary file beside it and renamed into place
// only when complete, so a failure or Ctrl-C never leaves a partial file and
// never touches an existing one. An image sequence (OUTPUT a pattern such as
// out%04d.png) is written into a temporary folder beside it, whose pictures
// are moved into place when all are written.
#pragma once

#include <string>

namespace ocuvex::process {

// Refuses an OUTPUT that is the INPUT file itself (by device and inode, so
// links and other spellings count), that is a folder, or that exists while
// `overwrite` is off. For a `sequence`, its first picture (number 1) is
// checked, against the first picture of an INPUT pattern too. Throws
// MediaError.
void check_output_path(const std::string& input, const std::string& output, bool overwrite, bool sequence = false);

class OutputFile {
  public:
    // Creates the temporary file in OUTPUT's folder (a temporary folder for
    // a `sequence`). Throws MediaError naming OUTPUT when the folder is
    // missing or not writable.
    OutputFile(const std::string& path, bool overwrite, bool sequence = false);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    // Where the writer writes: the temporary file, or for a sequence the
    // pattern inside the temporary folder (its own '%' doubled).
    const std::string& temp_path() const { return temp_path_; }
    // Flushes the temporary file to disk and renames it to OUTPUT (each
    // picture of a sequence into OUTPUT's folder); without `overwrite`, never
    // replaces a file that appeared meanwhile, and then moves none.
    void commit();

  private:
    void commit_sequence();

    std::string path_;
    std::string temp_path_;
    std::string temp_folder_;  // a sequence's; empty otherwise
    bool overwrite_;
    bool committed_ = false;
};

}  // namespace ocuvex::process

// An output written to a temporary file beside it and renamed into place
// only when complete, so a failure or Ctrl-C never leaves a partial file and
// never touches an existing one.
#pragma once

#include <string>

namespace ocuvex::cli {

// Refuses an OUTPUT that is the INPUT file itself (by device and inode, so
// links and other spellings count), that is a folder, or that exists while
// `overwrite` is off. Throws MediaError.
void check_output_path(const std::string& input, const std::string& output, bool overwrite);

class OutputFile {
  public:
    // Creates the temporary file in OUTPUT's folder. Throws MediaError naming
    // OUTPUT when the folder is missing or not writable.
    OutputFile(const std::string& path, bool overwrite);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    const std::string& temp_path() const { return temp_path_; }
    // Flushes the temporary file to disk and renames it to OUTPUT; without
    // `overwrite`, never replaces a file that appeared meanwhile.
    void commit();

  private:
    std::string path_;
    std::string temp_path_;
    bool overwrite_;
    bool committed_ = false;
};

}  // namespace ocuvex::cli

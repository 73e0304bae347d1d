#pragma once
// A score written to a file, by the name's extension: ".txt" (or ".jianpu")
// the jianpu text, ".pdf" A4 pages, ".svg" one long page.
#include "notation/jianpu.h"

#include <string>

namespace notation {

// False with a one-line reason; the target is replaced only by a complete
// new file. Needs a QGuiApplication for the printed forms.
bool WriteScoreFile(const Score& score, const std::string& path, std::string& error);

}  // namespace notation

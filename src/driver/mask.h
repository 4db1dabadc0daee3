// The mask file: one integer per line, line i keeping (nonzero) or dropping
// (zero) window position i.
#pragma once

#include <string>
#include <vector>

#include "core/sequence_set.h"

namespace varnik {

// True when the Mask_file setting means "no mask" (it starts with "nil").
bool MaskFileIsNil(const std::string& mask_file);

// Reads the L flags of the mask file.
std::vector<int> ReadMaskFile(const std::string& path, int L);
// The same from the file's text (path names it in messages).
std::vector<int> ReadMaskText(const std::string& text, const std::string& path, int L);

// Keeps, in every window, the letters whose flag is nonzero, in their order;
// returns the new length (the number of nonzero flags).
int ApplyMask(SequenceSet& windows, int L, const std::vector<int>& flags);

}  // namespace varnik

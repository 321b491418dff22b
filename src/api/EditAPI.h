// The exported functions' handle table: one slot per open metafile.
#pragma once

class TSMF;

// The metafile open under a handle; throws std::invalid_argument("Invalid
// metafile smfID!") for an invalid handle and empties its engine errors.
TSMF* InitCheck(int smfID);

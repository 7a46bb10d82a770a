// Counterfeit sticks claim many times the storage they hold: writes past the real
// size are lost or land on earlier data. Before a stick is formatted, blocks tagged
// with their own position are written across its claimed size (at every power of
// two from 1 MiB and at its last block), the stick's own cache is flushed, and every
// block is read back from the device. What the probed blocks held before is put
// back, so a stick that fails the probe keeps its content.
#pragma once
#include <cstdint>
#include <string>

struct CapacityProbe {
    bool holds;          // every probed block came back as written
    uint64_t answered;   // bytes from the start up to the first block that did not
    uint64_t claimed;    // the node's size
};

CapacityProbe probeCapacity(const std::string& node);

// Probes the node and says so on the console when the stick does not hold its size.
bool capacityHolds(int slot, const std::string& node);

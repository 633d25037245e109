#include "netserial/handle_table.h"

#include "netserial/net_port.h"

#include <atomic>
#include <mutex>
#include <new>

namespace qelnet {

namespace {

constexpr uint32_t kSlotsPerBlock = 256;
constexpr uint32_t kBlocks = kMaxHandles / kSlotsPerBlock;
constexpr uint32_t kSlotBits = 16;
constexpr uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr uint32_t kLastGeneration = 0x7FFF;
constexpr uint32_t kNone = UINT32_MAX;

static_assert(kMaxHandles <= kSlotMask, "a slot number must fit below the generation");

struct Slot {
    std::mutex lock;
    NetPort* port = nullptr;    // under lock
    uint32_t generation = 1;    // under lock
    uint32_t nextFree = kNone;  // under tableLock
};

// Constant-initialised: usable from the first call, whenever that comes.
// The first block is part of the library, so that the first opens allocate
// nothing here: the I/O loops made at the first open are then its last
// allocation, and a failure before them leaves nothing behind.
Slot firstBlock[kSlotsPerBlock];
std::atomic<Slot*> blocks[kBlocks] = {firstBlock};
std::mutex tableLock;
uint32_t slotsMade = 0;  // under tableLock
uint32_t freeHead = kNone;
uint32_t freeTail = kNone;

Slot* slotAt(uint32_t index) {
    if (index >= kMaxHandles) return nullptr;
    Slot* block = blocks[index / kSlotsPerBlock].load(std::memory_order_acquire);
    return block ? &block[index % kSlotsPerBlock] : nullptr;
}

// Splits a handle value; false for one that cannot be ours.
bool decode(HANDLE handle, uint32_t* index, uint32_t* generation) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > 0x7FFFFFFFu) return false;
    const uint32_t slot = static_cast<uint32_t>(value) & kSlotMask;
    if (slot == 0) return false;
    *index = slot - 1;
    *generation = static_cast<uint32_t>(value) >> kSlotBits;
    return true;
}

HANDLE encode(uint32_t index, uint32_t generation) {
    return reinterpret_cast<HANDLE>(
        static_cast<uintptr_t>((generation << kSlotBits) | (index + 1)));
}

// A slot for a new handle, oldest freed first; kNone when there is none.
// tableLock held.
uint32_t takeSlot() {
    if (freeHead != kNone) {
        const uint32_t index = freeHead;
        freeHead = slotAt(index)->nextFree;
        if (freeHead == kNone) freeTail = kNone;
        return index;
    }
    if (slotsMade == kMaxHandles) return kNone;
    if (slotsMade % kSlotsPerBlock == 0 && !blocks[slotsMade / kSlotsPerBlock].load()) {
        Slot* block = new (std::nothrow) Slot[kSlotsPerBlock];
        if (!block) return kNone;
        blocks[slotsMade / kSlotsPerBlock].store(block, std::memory_order_release);
    }
    return slotsMade++;
}

}  // namespace

HANDLE RegisterHandle(NetPort* port) {
    std::lock_guard<std::mutex> table(tableLock);
    const uint32_t index = takeSlot();
    if (index == kNone) return nullptr;
    Slot& slot = *slotAt(index);
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.port = port;
    return encode(index, slot.generation);
}

NetPort* LookUpHandle(HANDLE handle) {
    uint32_t index = 0, generation = 0;
    if (!decode(handle, &index, &generation)) return nullptr;
    Slot* slot = slotAt(index);
    if (!slot) return nullptr;
    std::lock_guard<std::mutex> hold(slot->lock);
    if (!slot->port || slot->generation != generation) return nullptr;
    slot->port->refs.fetch_add(1, std::memory_order_relaxed);
    return slot->port;
}

NetPort* UnregisterHandle(HANDLE handle) {
    uint32_t index = 0, generation = 0;
    if (!decode(handle, &index, &generation)) return nullptr;
    std::lock_guard<std::mutex> table(tableLock);
    Slot* slot = slotAt(index);
    if (!slot) return nullptr;
    NetPort* port = nullptr;
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        if (!slot->port || slot->generation != generation) return nullptr;
        port = slot->port;
        slot->port = nullptr;
        slot->generation = slot->generation == kLastGeneration ? 1 : slot->generation + 1;
    }
    slot->nextFree = kNone;
    if (freeTail == kNone) {
        freeHead = index;
    } else {
        slotAt(freeTail)->nextFree = index;
    }
    freeTail = index;
    return port;
}

}  // namespace qelnet

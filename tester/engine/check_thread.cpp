#include "tester/engine/check_thread.h"

#include <memory>
#include <vector>

#include "platform/event.h"

namespace {

struct Slot {
    const std::function<void(size_t)>* work;
    size_t index;
    plat::Thread thread;
};

void SlotEntry(void* slot) {
    const Slot& s = *static_cast<Slot*>(slot);
    (*s.work)(s.index);
}

}  // namespace

void SideBySide(size_t count, const std::function<void(size_t)>& work) {
    std::vector<std::unique_ptr<Slot>> slots;
    std::vector<bool> threaded;
    for (size_t i = 0; i < count; ++i) {
        slots.push_back(std::make_unique<Slot>());
        slots.back()->work = &work;
        slots.back()->index = i;
        threaded.push_back(slots.back()->thread.start(SlotEntry, slots.back().get()));
    }
    for (size_t i = 0; i < count; ++i) {
        if (threaded[i])
            slots[i]->thread.join(plat::kInfinite);
        else
            work(i);
    }
}

CheckThread::~CheckThread() {
    Stop(plat::kInfinite);
}

bool CheckThread::Start(Work work) {
    if (!thread_.join(0)) return false;
    work_ = std::move(work);
    cancel_.store(false);
    return thread_.start(Entry, this);
}

bool CheckThread::Stop(uint32_t boundMs) {
    cancel_.store(true);
    return thread_.join(boundMs);
}

void CheckThread::Entry(void* self) {
    CheckThread& me = *static_cast<CheckThread*>(self);
    me.work_([&me] { return me.cancel_.load(); });
}

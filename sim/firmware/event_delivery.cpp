#include "sim/firmware/event_delivery.h"

#include <memory>
#include <vector>

#include "common/ownership.h"
#include "sim/firmware/firmware_model.h"
#include "sim/firmware/shared_state.h"

namespace firmsim {
namespace {

constexpr DWORD kPollIntervalMs = 100;
// A sink that blocks longer than this in Indicate does not hold up its cancel forever.
constexpr DWORD kCancelWaitMs = 10000;

struct Subscription {
    EventKind kind = EventKind::DualOs;
    obrin::ComPtr<IWbemObjectSink> sink;
    uint64_t lastSeen = 0;
    obrin::UniqueHandle stop;
    obrin::UniqueHandle thread;
    DWORD threadId = 0;
};

struct Registry {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<std::shared_ptr<Subscription>> subscriptions;
};

Registry& Subscriptions()
{
    // Never destroyed: releasing sinks while the process unloads would call into freed code.
    static Registry* registry = new Registry;
    return *registry;
}

bool StopRequested(const Subscription& subscription) noexcept
{
    return WaitForSingleObject(subscription.stop.get(), 0) == WAIT_OBJECT_0;
}

void DeliverNewEvents(Subscription& subscription) noexcept
{
    FirmwareState state;
    if (FAILED(SharedState().ReadWithoutCalls(state)))
        return;
    for (const auto& event : state.events) {
        if (event.sequence <= subscription.lastSeen)
            continue;
        subscription.lastSeen = event.sequence;
        if (event.kind != subscription.kind)
            continue;
        if (StopRequested(subscription))
            return;
        WbemObjectPtr object;
        try {
            object = subscription.kind == EventKind::DualOs ? MakeDualOsEvent(event.value)
                                                            : MakePowerEvent(static_cast<uint16_t>(event.value));
        } catch (...) {
            continue;
        }
        IWbemClassObject* objects[] = {object.get()};
        subscription.sink->Indicate(1, objects);
    }
    if (state.lastSequence > subscription.lastSeen)
        subscription.lastSeen = state.lastSequence;
}

DWORD WINAPI DeliveryThread(void* parameter)
{
    std::unique_ptr<std::shared_ptr<Subscription>> holder(static_cast<std::shared_ptr<Subscription>*>(parameter));
    Subscription& subscription = **holder;
    obrin::ComInit com(COINIT_MULTITHREADED);
    while (WaitForSingleObject(subscription.stop.get(), kPollIntervalMs) == WAIT_TIMEOUT)
        DeliverNewEvents(subscription);
    return 0;
}

}  // namespace

HRESULT Subscribe(EventKind kind, IWbemObjectSink* sink) noexcept
{
    try {
        auto subscription = std::make_shared<Subscription>();
        subscription->kind = kind;
        subscription->sink = obrin::ComPtr<IWbemObjectSink>::Copy(sink);
        FirmwareState state;
        const HRESULT hr = SharedState().ReadWithoutCalls(state);
        if (FAILED(hr))
            return hr;
        // Only events raised from now on reach this subscription.
        subscription->lastSeen = state.lastSequence;
        subscription->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!subscription->stop)
            return HRESULT_FROM_WIN32(GetLastError());

        auto parameter = std::make_unique<std::shared_ptr<Subscription>>(subscription);
        Registry& registry = Subscriptions();
        AcquireSRWLockExclusive(&registry.lock);
        registry.subscriptions.reserve(registry.subscriptions.size() + 1);
        subscription->thread.reset(
            CreateThread(nullptr, 0, DeliveryThread, parameter.get(), 0, &subscription->threadId));
        if (!subscription->thread) {
            const DWORD error = GetLastError();
            ReleaseSRWLockExclusive(&registry.lock);
            return HRESULT_FROM_WIN32(error);
        }
        static_cast<void>(parameter.release());
        registry.subscriptions.push_back(subscription);
        ReleaseSRWLockExclusive(&registry.lock);
        return S_OK;
    } catch (...) {
        return WBEM_E_OUT_OF_MEMORY;
    }
}

HRESULT CancelSubscription(IWbemObjectSink* sink) noexcept
{
    if (!sink)
        return WBEM_E_INVALID_PARAMETER;
    std::vector<std::shared_ptr<Subscription>> cancelled;
    Registry& registry = Subscriptions();
    AcquireSRWLockExclusive(&registry.lock);
    try {
        auto& all = registry.subscriptions;
        cancelled.reserve(all.size());
        for (auto it = all.begin(); it != all.end();) {
            if ((*it)->sink.get() == sink) {
                cancelled.push_back(std::move(*it));
                it = all.erase(it);
            } else {
                ++it;
            }
        }
    } catch (...) {
        ReleaseSRWLockExclusive(&registry.lock);
        return WBEM_E_OUT_OF_MEMORY;
    }
    ReleaseSRWLockExclusive(&registry.lock);
    if (cancelled.empty())
        return WBEM_E_NOT_FOUND;
    for (const auto& subscription : cancelled) {
        SetEvent(subscription->stop.get());
        // From inside the sink's own Indicate the thread cannot be waited for.
        if (subscription->threadId != GetCurrentThreadId())
            WaitForSingleObject(subscription->thread.get(), kCancelWaitMs);
        subscription->sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_CALL_CANCELLED, nullptr, nullptr);
    }
    return S_OK;
}

}  // namespace firmsim

// The event bus: subscription rules, delivery order, and handlers that change
// the subscriber list while an event is being delivered.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CEventPublisher.h"

using orvane::IEventHandler;
using orvane::IEventPublisher;
using orvane::app::CEventPublisher;

namespace {

struct Delivery {
    std::string to;
    IEventHandler* sender;
    int32_t type;
    intptr_t param1, param2;
    bool operator==(const Delivery&) const = default;
};

class Recorder : public IEventHandler {
public:
    Recorder(std::string name, std::vector<Delivery>& log) : name_(std::move(name)), log_(log) {}
    virtual ~Recorder() = default;
    int32_t SetPublisher(IEventPublisher*) override { return 0; }
    int32_t OnEvent(IEventHandler* sender, int32_t type, intptr_t param1, intptr_t param2) override
    {
        log_.push_back({name_, sender, type, param1, param2});
        if (action) action();
        return 1;
    }
    std::function<void()> action;

private:
    std::string name_;
    std::vector<Delivery>& log_;
};

std::vector<std::string> Receivers(const std::vector<Delivery>& log)
{
    std::vector<std::string> names;
    for (const Delivery& d : log) names.push_back(d.to);
    return names;
}

using Names = std::vector<std::string>;

TEST(EventPublisher, SubscriptionsKeepOrderWithoutDuplicates)
{
    std::vector<Delivery> log;
    Recorder a("a", log), b("b", log), c("c", log), stranger("x", log);
    CEventPublisher bus;
    EXPECT_EQ(bus.Publish(nullptr, orvane::EventCaptureCleared, 0, 0), 1) << "no subscribers";
    EXPECT_TRUE(log.empty());

    EXPECT_EQ(bus.Subscribe(&a), 1);
    EXPECT_EQ(bus.Subscribe(&b), 1);
    EXPECT_EQ(bus.Subscribe(&c), 1);
    EXPECT_EQ(bus.Subscribe(&b), 0) << "a duplicate changes nothing";
    EXPECT_EQ(bus.Subscribe(nullptr), 0);
    EXPECT_EQ(bus.Unsubscribe(&stranger), 0);
    EXPECT_EQ(bus.GetCount(), 3);

    // The sender receives its own event, with the values as published.
    bus.Publish(&b, orvane::EventByteRangeSelected, 12, 34);
    EXPECT_EQ(log, (std::vector<Delivery>{{"a", &b, 7, 12, 34}, {"b", &b, 7, 12, 34}, {"c", &b, 7, 12, 34}}));

    log.clear();
    EXPECT_EQ(bus.Unsubscribe(&b), 1);
    EXPECT_EQ(bus.Unsubscribe(&b), 0);
    EXPECT_EQ(bus.Subscribe(&b), 1) << "back at the end";
    bus.Publish(nullptr, orvane::EventGoToPacket, 5, 0);
    EXPECT_EQ(Receivers(log), (Names{"a", "c", "b"}));
}

TEST(EventPublisher, HandlersMayChangeTheListWhileAnEventIsDelivered)
{
    std::vector<Delivery> log;
    CEventPublisher bus;
    Recorder first("first", log), self("self", log), last("last", log), late("late", log);
    auto doomed = std::make_unique<Recorder>("doomed", log);

    // "self" leaves, "first" removes and destroys "doomed" before its turn,
    // and "last" subscribes "late", which waits for the next event.
    first.action = [&] {
        if (doomed) {
            bus.Unsubscribe(doomed.get());
            doomed.reset();
        }
    };
    self.action = [&] { bus.Unsubscribe(&self); };
    last.action = [&] { bus.Subscribe(&late); };
    for (IEventHandler* h : std::initializer_list<IEventHandler*>{&first, &self, doomed.get(), &last})
        bus.Subscribe(h);

    EXPECT_EQ(bus.Publish(nullptr, orvane::EventDataReady, 1, 0), 1);
    EXPECT_EQ(Receivers(log), (Names{"first", "self", "last"}));

    log.clear();
    bus.Publish(nullptr, orvane::EventDataReady, 2, 0);
    EXPECT_EQ(Receivers(log), (Names{"first", "last", "late"}));
}

TEST(EventPublisher, AnEventPublishedFromAHandlerIsDeliveredInside)
{
    // The list answers GoToPacket by selecting the row, which publishes ItemSelected.
    std::vector<Delivery> log;
    CEventPublisher bus;
    Recorder chart("chart", log), list("list", log);
    list.action = [&] {
        if (log.back().type == orvane::EventGoToPacket) bus.Publish(&list, orvane::EventItemSelected, 9, 0);
    };
    bus.Subscribe(&chart);
    bus.Subscribe(&list);
    bus.Publish(&chart, orvane::EventGoToPacket, 9, 0);
    std::vector<std::pair<std::string, int32_t>> seen;
    for (const Delivery& d : log) seen.emplace_back(d.to, d.type);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, int32_t>>{
                        {"chart", orvane::EventGoToPacket}, {"list", orvane::EventGoToPacket},
                        {"chart", orvane::EventItemSelected}, {"list", orvane::EventItemSelected}}));
}

}  // namespace

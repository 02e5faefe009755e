// Pieces shared by the caller and a helper thread: against the model of doing them one by
// one on the caller, with random lengths of work, random ends, pieces that throw on the
// helper and callers that stop early.

#include "engine/TwoLanes.h"

#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct Lane {
    std::size_t piece = 0;
    std::vector<std::size_t> values;
    std::thread::id thread;
};

} // namespace

TEST(TwoLanes, EveryPieceComesOnceInOrderWhateverTheTiming)
{
    std::mt19937 random(7301);
    const std::thread::id caller = std::this_thread::get_id();
    for (int round = 0; round < quilltest::rounds(300); ++round) {
        const std::size_t pieces = random() % 12;
        const std::size_t stopAfter = random() % 3 == 0 ? random() % 14 : pieces + 1;
        const unsigned throwEvery = random() % 4 == 0 ? 1 + random() % 3 : 0;
        std::vector<unsigned> delays(pieces + 3);
        for (unsigned& d : delays) {
            d = random() % 4 == 0 ? unsigned(random() % 300) : 0;
        }
        SCOPED_TRACE(::testing::Message()
                     << "round " << round << ", " << pieces << " pieces, stop after " << stopAfter
                     << ", throw every " << throwEvery);
        std::size_t taken = 0;
        std::size_t helped = 0;
        {
            TwoLanes<Lane> lanes([&](Lane& lane, std::size_t k) {
                std::this_thread::sleep_for(
                    std::chrono::microseconds(delays[std::min(k, pieces + 2)]));
                if (k >= pieces) {
                    return false;
                }
                if (throwEvery != 0 && k % throwEvery == 0 &&
                    std::this_thread::get_id() != caller) {
                    throw std::runtime_error("no memory");
                }
                lane.piece = k;
                lane.values.assign(k % 5, k * 10);
                lane.thread = std::this_thread::get_id();
                return true;
            });
            while (taken < stopAfter) {
                const Lane* lane = lanes.next();
                if (lane == nullptr) {
                    break;
                }
                ASSERT_EQ(lane->piece, taken);
                ASSERT_EQ(lane->values, std::vector<std::size_t>(taken % 5, taken * 10));
                helped += lane->thread != caller ? 1 : 0;
                ++taken;
            }
            if (stopAfter > pieces) {
                EXPECT_EQ(lanes.next(), nullptr) << "an end stays the end";
            }
        }
        EXPECT_EQ(taken, std::min(pieces, stopAfter));
        EXPECT_LE(helped, taken / 2) << "the helper takes only odd pieces";
    }
}

// Lanes started one after another on a thread share its helper; lanes started inside lanes
// (the helper still busy) get a thread of their own, and both sets end whole.
TEST(TwoLanes, OneHelperForLanesInTurnAnotherForLanesInside)
{
    const std::thread::id caller = std::this_thread::get_id();
    auto helperOf = [&](std::size_t pieces, auto&& inside) {
        std::thread::id helper;
        TwoLanes<Lane> lanes([&](Lane& lane, std::size_t k) {
            if (k >= pieces) {
                return false;
            }
            lane.piece = k;
            lane.thread = std::this_thread::get_id();
            if (lane.thread == caller) {
                inside(k);
            }
            return true;
        });
        std::size_t taken = 0;
        while (const Lane* lane = lanes.next()) {
            EXPECT_EQ(lane->piece, taken++);
            if (lane->thread != caller) {
                helper = lane->thread;
            }
        }
        EXPECT_EQ(taken, pieces);
        return helper;
    };
    const auto nothing = [](std::size_t) {};
    const std::thread::id first = helperOf(6, nothing);
    EXPECT_NE(first, std::thread::id());
    EXPECT_EQ(helperOf(6, nothing), first);
    std::thread::id inner;
    const std::thread::id outer = helperOf(4, [&](std::size_t k) {
        if (k == 0) {
            inner = helperOf(6, [](std::size_t) {});
        }
    });
    EXPECT_EQ(outer, first);
    EXPECT_NE(inner, std::thread::id());
    EXPECT_NE(inner, outer);
}

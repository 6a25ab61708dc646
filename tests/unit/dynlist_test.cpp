// The port list's cursor rules, on the class itself.
#include <gtest/gtest.h>

#include "comlayer/port/CCDynList.h"

namespace {

int items[8] = {0, 1, 2, 3, 4, 5, 6, 7};

void* Item(int i) {
    return &items[i];
}

// A list holding items 0 .. count-1, cursor on the last.
void Fill(CCDynList& list, int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(list.AddTail(Item(i)));
}

TEST(CCDynList, EmptyListAnswersNullAndFalse) {
    CCDynList list;
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.GetCurrent());
    EXPECT_EQ(nullptr, list.RemoveHead());
    EXPECT_EQ(nullptr, list.RemoveTail());
    EXPECT_EQ(nullptr, list.RemoveCurrent());
    EXPECT_FALSE(list.MoveNext());
    EXPECT_FALSE(list.MoveTo(0));
    EXPECT_EQ(nullptr, list.GetAt(3));
    EXPECT_EQ(nullptr, list.RemoveAt(0));
    list.RemoveAll();
}

TEST(CCDynList, ConstructorAddsNullItemsWithTheCursorOnTheHead) {
    CCDynList list(3);
    EXPECT_EQ(3, list.GetCount());
    EXPECT_EQ(nullptr, list.GetCurrent());
    EXPECT_TRUE(list.MoveNext());
    EXPECT_TRUE(list.MoveNext());
    EXPECT_FALSE(list.MoveNext());
}

TEST(CCDynList, AddedNodeBecomesCurrent) {
    CCDynList list;
    ASSERT_TRUE(list.AddTail(Item(1)));
    EXPECT_EQ(Item(1), list.GetCurrent());
    ASSERT_TRUE(list.AddHead(Item(0)));
    EXPECT_EQ(Item(0), list.GetCurrent());
    ASSERT_TRUE(list.AddTail(Item(2)));
    EXPECT_EQ(Item(2), list.GetCurrent());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Item(i), list.GetAt(i));
}

TEST(CCDynList, MoveToStopsAtTheTailAndReportsWhetherItArrived) {
    CCDynList list;
    Fill(list, 3);
    EXPECT_TRUE(list.MoveTo(2));
    EXPECT_EQ(Item(2), list.GetCurrent());
    EXPECT_FALSE(list.MoveTo(5));
    EXPECT_EQ(Item(2), list.GetCurrent());
    EXPECT_FALSE(list.MoveTo(-1));
    EXPECT_EQ(Item(0), list.GetCurrent());
}

TEST(CCDynList, RemovingTheEndsMovesTheCursorInward) {
    CCDynList list;
    Fill(list, 4);
    list.MoveTo(0);
    EXPECT_EQ(Item(0), list.RemoveHead());
    EXPECT_EQ(Item(1), list.GetCurrent());
    list.MoveTo(2);
    EXPECT_EQ(Item(3), list.RemoveTail());
    EXPECT_EQ(Item(2), list.GetCurrent());
    // Removing an end the cursor is not on leaves the cursor alone.
    EXPECT_EQ(Item(1), list.RemoveHead());
    EXPECT_EQ(Item(2), list.GetCurrent());
    EXPECT_EQ(1, list.GetCount());
}

TEST(CCDynList, RemovingAMiddleNodePutsTheCursorOnTheHead) {
    CCDynList list;
    Fill(list, 5);
    EXPECT_EQ(Item(2), list.RemoveAt(2));
    EXPECT_EQ(Item(0), list.GetCurrent());
    EXPECT_EQ(4, list.GetCount());
    EXPECT_EQ(Item(3), list.GetAt(2));
    EXPECT_EQ(Item(4), list.RemoveAt(3));  // the tail
    EXPECT_EQ(Item(3), list.GetCurrent());
    EXPECT_EQ(Item(0), list.RemoveAt(0));  // the head
    EXPECT_EQ(Item(1), list.GetCurrent());
    EXPECT_EQ(Item(1), list.GetAt(0));
    EXPECT_EQ(Item(3), list.GetAt(1));
}

TEST(CCDynList, RemoveAllEmptiesTheListWithoutTouchingTheItems) {
    CCDynList list;
    Fill(list, 6);
    list.RemoveAll();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(nullptr, list.GetCurrent());
    EXPECT_EQ(5, items[5]);
    ASSERT_TRUE(list.AddHead(Item(7)));
    EXPECT_EQ(1, list.GetCount());
}

}  // namespace

#include "log/IM_LogManager.h"
#include "log/IM_Trace.h"

#include <gtest/gtest.h>

#include <thread>

TEST(LogManager, WritesOnlyAtOrAboveLevelAndFormats) {
  IM_LogManager* lm = IM_LogManager::instance();
  ACE_Log_Priority old = lm->level();
  lm->setLevel(LM_WARNING);
  IM_LogCapture cap;
  IM_LOG_INFO("hidden %d", 1);
  IM_LOG_ERROR("PostwingServer, [status = %s]", "open success");
  std::thread([] { IM_LOG_WARN("from a plain thread %s", std::string(600, 'x').c_str()); }).join();
  lm->setLevel(old);
  auto lines = cap.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "PostwingServer, [status = open success]");
  EXPECT_EQ(lines[1].size(), std::string("from a plain thread ").size() + 600);
}

TEST(LogManager, TraceWritesEnterAndLeaveAtDebug) {
  IM_LogManager* lm = IM_LogManager::instance();
  ACE_Log_Priority old = lm->level();
  lm->setLevel(LM_DEBUG);
  IM_LogCapture cap;
  { IM_TRACE("NetDiskClient::NetDiskClient"); }
  lm->setLevel(old);
  EXPECT_TRUE(cap.contains("enter NetDiskClient::NetDiskClient"));
  EXPECT_TRUE(cap.contains("leave NetDiskClient::NetDiskClient"));
}

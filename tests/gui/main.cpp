#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui/pagestore.h"
#include "testserver.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  // Every address the window builds points at the local test server, never outside.
  ::setenv("LORVANTA_VENDOR_HOST", TestServer::Instance().HostPort().c_str(), 1);
  ::setenv("LORVANTA_ROUTE_HOST", TestServer::Instance().HostPort().c_str(), 1);
  RegisterWebPaneScheme();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Lorvanta");
  int rc = RUN_ALL_TESTS();
  TestServer::Instance().Stop();
  return rc;
}

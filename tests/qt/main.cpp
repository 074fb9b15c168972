#include <gtest/gtest.h>

#include <QApplication>

#include "device/qt/qt_delivery.hpp"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // CTest sets the platform; this also lets the binary be run by hand or
  // listed at build time without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  return RUN_ALL_TESTS();
}

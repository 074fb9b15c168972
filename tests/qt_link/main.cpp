#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>

#include "device/qt/qt_delivery.hpp"

// QSerialPort needs an event loop; nothing here draws.
int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QCoreApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

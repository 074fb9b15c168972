#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "device/qt/qt_delivery.hpp"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "app/sharing/Reachability.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>

#include <gtest/gtest.h>

TEST(Reachability, StatusFollowsTheFlags) {
    using R = Reachability;
    EXPECT_EQ(R::networkStatusForFlags(0), R::NotReachable);
    EXPECT_EQ(R::networkStatusForFlags(R::Reachable), R::ReachableViaNetwork);
    EXPECT_EQ(R::networkStatusForFlags(R::Reachable | R::ConnectionRequired), R::NotReachable);
    EXPECT_EQ(R::networkStatusForFlags(R::Reachable | R::ConnectionRequired | R::ConnectionOnDemand),
              R::ReachableViaNetwork);
    EXPECT_EQ(R::networkStatusForFlags(R::Reachable | R::ConnectionRequired | R::ConnectionOnTraffic |
                                       R::InterventionRequired),
              R::NotReachable);
    EXPECT_EQ(R::networkStatusForFlags(R::ConnectionOnDemand), R::NotReachable);
    EXPECT_EQ(R::localWiFiStatusForFlags(R::Reachable | R::IsDirect), R::ReachableViaNetwork);
    EXPECT_EQ(R::localWiFiStatusForFlags(R::Reachable), R::NotReachable);
    EXPECT_EQ(R::describeFlags(R::Reachable | R::ConnectionRequired | R::IsDirect), "R- c----d");
    EXPECT_EQ(Reachability::reachabilityWithHostName(QString()), nullptr);
}

TEST(Reachability, AHostThatAnswersIsReachableAndOneThatGoesAwayIsNot) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::unique_ptr<Reachability> reachability(
        Reachability::reachabilityWithHostName("127.0.0.1", server.serverPort()));
    int changes = 0;
    QObject::connect(reachability.get(), &Reachability::reachabilityChanged, [&] { ++changes; });
    ASSERT_TRUE(reachability->startNotifier(100));
    QElapsedTimer timer;
    timer.start();
    while (changes < 1 && timer.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(reachability->currentReachabilityStatus(), Reachability::ReachableViaNetwork);
    server.close();
    while (changes < 2 && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(reachability->currentReachabilityStatus(), Reachability::NotReachable);
    reachability->stopNotifier();
}

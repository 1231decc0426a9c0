#include "base/udp_socket.h"

#include <gtest/gtest.h>

TEST(Endpoint, AddressesPortsAndResolving) {
    EXPECT_EQ(Endpoint().ToString(), "0.0.0.0:0");
    const Endpoint loopback = Endpoint::Ipv4(0x7F000001, 13014);
    EXPECT_EQ(loopback.ToString(), "127.0.0.1:13014");
    EXPECT_FALSE(loopback.IsIpv6());
    EXPECT_EQ(loopback.Length(), 16);

    const auto v4 = Endpoint::Resolve("192.168.1.20", 80);
    ASSERT_TRUE(v4.has_value());
    EXPECT_EQ(v4->ToString(), "192.168.1.20:80");
    const auto v6 = Endpoint::Resolve("::1", 65535);
    ASSERT_TRUE(v6.has_value());
    EXPECT_TRUE(v6->IsIpv6());
    EXPECT_EQ(v6->Port(), 65535);
    EXPECT_EQ(v6->ToString(), "[::1]:65535");
    EXPECT_FALSE(Endpoint::Resolve("", 1).has_value());
    EXPECT_EQ(Endpoint::AnyOfFamily(*v6, 13013).ToString(), "[::]:13013");
    EXPECT_EQ(Endpoint::AnyOfFamily(loopback, 13013).ToString(), "0.0.0.0:13013");
}

TEST(Endpoint, AnIpv4SenderEqualsItselfSeenThroughADualStackSocket) {
    const Endpoint v4 = Endpoint::Ipv4(0x7F000001, 13014);
    const auto mapped = Endpoint::Resolve("::ffff:127.0.0.1", 13014);
    ASSERT_TRUE(mapped.has_value());
    EXPECT_TRUE(mapped->IsIpv6());
    EXPECT_TRUE(*mapped == v4);
    EXPECT_TRUE(v4 == *mapped);
    EXPECT_TRUE(*mapped != Endpoint::Ipv4(0x7F000001, 13015));
    EXPECT_TRUE(*Endpoint::Resolve("::1", 13014) != *mapped);
    EXPECT_TRUE(Endpoint::Ipv4(0x7F000002, 13014) != v4);
    EXPECT_EQ(mapped->Unmapped().ToString(), "127.0.0.1:13014");
    EXPECT_EQ(mapped->SenderKey(), v4.SenderKey());
    EXPECT_EQ(Endpoint::Resolve("::1", 13014)->Unmapped().ToString(), "[::1]:13014");
}

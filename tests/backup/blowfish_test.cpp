#include "backup/blowfish.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using keldo::backup::TBlowfish;

namespace {

std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

std::vector<std::uint8_t> sample(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    return data;
}

} // namespace

TEST(Blowfish, PublishedTestVectors) {
    struct Case {
        std::string key; // hex, or text when it does not look like hex
        std::string plain;
        std::string cipher;
        bool textKey = false;
    };
    const Case cases[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"abcdefghijklmnopqrstuvwxyz", "424C4F5746495348", "324ED0FEF413A203", true},
    };
    for (const auto& c : cases) {
        TBlowfish bf;
        bf.setKey(c.textKey ? c.key : fromHex(c.key));
        ASSERT_TRUE(bf.keyScheduled()) << c.key;
        auto block = bytesOf(fromHex(c.plain));
        bf.encryptECB(block.data(), block.size());
        EXPECT_EQ(block, bytesOf(fromHex(c.cipher))) << c.key;
        bf.decryptECB(block.data(), block.size());
        EXPECT_EQ(block, bytesOf(fromHex(c.plain))) << c.key;
    }
}

// Every key the archive's rule keeps must give exactly OpenSSL's Blowfish.
TEST(Blowfish, AgreesWithOpenSslForKeysOf8To65Bytes) {
    const auto plain = sample(64);
    for (std::size_t length = TBlowfish::kMinKeyLength; length <= TBlowfish::kMaxKeyLength;
         ++length) {
        std::string key(length, '\0');
        for (std::size_t i = 0; i < length; ++i) {
            key[i] = static_cast<char>(0xA5 ^ (i * 29 + length));
        }
        TBlowfish ours;
        ours.setKey(key);
        auto mine = plain;
        ours.encryptECB(mine.data(), mine.size());

        BF_KEY theirs;
        BF_set_key(&theirs, static_cast<int>(length),
                   reinterpret_cast<const unsigned char*>(key.data()));
        std::vector<std::uint8_t> reference(plain.size());
        for (std::size_t at = 0; at < plain.size(); at += 8) {
            BF_ecb_encrypt(plain.data() + at, reference.data() + at, &theirs, BF_ENCRYPT);
        }
        EXPECT_EQ(mine, reference) << "key length " << length;
    }
}

// Keys shorter than 8 or longer than 65 characters are discarded, so all of them, the
// empty key included, give the same unkeyed cipher, and it differs from a real key's.
TEST(Blowfish, ShortAndLongKeysAreAllTheSameCipher) {
    const auto plain = sample(32);
    auto encrypt = [&](const std::string& key) {
        TBlowfish bf;
        bf.setKey(key);
        auto data = plain;
        bf.encryptECB(data.data(), data.size());
        return std::make_pair(data, bf.keyScheduled());
    };
    const auto [unkeyed, scheduled] = encrypt("");
    EXPECT_FALSE(scheduled);
    for (const std::string& key : std::vector<std::string>{
             "abc", "x", "1234567", std::string(66, 'k'), std::string(200, 'z')}) {
        const auto [data, keyed] = encrypt(key);
        EXPECT_FALSE(keyed) << key.size();
        EXPECT_EQ(data, unkeyed) << key.size();
    }
    EXPECT_NE(encrypt("12345678").first, unkeyed);
    // The 65th character still counts.
    std::string longest;
    for (int i = 0; i < 65; ++i) {
        longest.push_back(static_cast<char>('A' + i % 26));
    }
    EXPECT_NE(encrypt(longest).first, unkeyed);
    EXPECT_NE(encrypt(longest).first, encrypt(longest.substr(0, 64)).first);
}

TEST(Blowfish, RekeyingStartsFromTheInitialTablesAndPartialBlocksAreRefused) {
    TBlowfish once;
    once.setKey("segredo-da-empresa");
    TBlowfish twice;
    twice.setKey("outra chave qualquer");
    twice.setKey("segredo-da-empresa");
    auto a = sample(16);
    auto b = sample(16);
    once.encryptECB(a.data(), a.size());
    twice.encryptECB(b.data(), b.size());
    EXPECT_EQ(a, b);
    EXPECT_ANY_THROW(once.encryptECB(a.data(), 12));
}

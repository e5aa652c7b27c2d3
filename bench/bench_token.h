// What the token benchmarks agree on: the token's PIN, the labels of the objects that every way
// of measuring creates and finds again, and the sizes of the data the workloads move.
#pragma once

#define BENCH_USER_PIN "1234"
#define BENCH_AES_LABEL "bench-aes"
#define BENCH_RSA_LABEL "bench-rsa"
#define BENCH_FIND_LABEL "bench-find"
#define BENCH_FIND_COUNT 100
#define BENCH_FIND_LARGE_LABEL "bench-find-1000"
#define BENCH_FIND_LARGE_COUNT 1000
#define BENCH_CERT_LABEL "bench-cert"
#define BENCH_CERT_LENGTH 1024
#define BENCH_CREATE_LABEL "bench-created"
#define BENCH_SIGN_DATA_LENGTH 64
#define BENCH_LARGE_LABEL "bench-large"
#define BENCH_LARGE_VALUE_LENGTH (1 << 20)

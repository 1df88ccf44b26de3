#pragma once

#include <sys/resource.h>

// A resource limit of the test process (open files, file size) while the object lives.
struct ResourceLimit
{
    int resource;
    struct rlimit old;
    ResourceLimit(int which, rlim_t value) : resource(which)
    {
        getrlimit(resource, &old);
        struct rlimit limit = old;
        limit.rlim_cur = value;
        setrlimit(resource, &limit);
    }
    ~ResourceLimit() { setrlimit(resource, &old); }
    ResourceLimit(const ResourceLimit &) = delete;
    ResourceLimit &operator=(const ResourceLimit &) = delete;
};

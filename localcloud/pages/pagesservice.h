#pragma once

namespace httplib {
class Server;
}

// The agreement pages the sign-in window and the About page link to, served
// as plain HTML beside the API.
class PagesService final
{
public:
    // Registers its routes; call before a catch-all route of the same server.
    static void install(httplib::Server &server);
};

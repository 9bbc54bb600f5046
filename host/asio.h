// Boost.Asio and Beast for the album server, included from this one place.
#pragma once

// Boost 1.74's boost/asio/awaitable.hpp uses std::exchange without including
// <utility>, which GCC 12 in C++20 mode does not pull in by itself.
#include <utility>

// Beast's text views are std::string_view, as everywhere else in the host.
#define BOOST_BEAST_USE_STD_STRING_VIEW 1

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

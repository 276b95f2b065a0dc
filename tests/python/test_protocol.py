"""Message framing: exact bytes both ways, refused headers, time-outs and the end of the
stream."""

import socket
import threading
import time
import unittest

from reversi_bot.protocol import (Connection, ConnectionClosed, Disqualification, Fin, MapText,
                                  MessageTimeout, MoveAnnouncement, MoveRequest, PlayerNumber,
                                  ProtocolError, Terminal, encode_group_id, encode_move)


class Framing(unittest.TestCase):
    def setUp(self):
        self.server_end, client_end = socket.socketpair()
        self.connection = Connection(client_end)

    def tearDown(self):
        self.server_end.close()
        self.connection.close()

    def test_client_messages_are_exact_bytes(self):
        self.assertEqual(encode_move(3, 10, 0), bytes.fromhex("05 00000005 0003 000a 00"))
        self.assertEqual(encode_move(258, 1, 21), bytes.fromhex("05 00000005 0102 0001 15"))
        self.assertEqual(encode_group_id(255), bytes.fromhex("01 00000001 ff"))

    def test_server_messages_are_decoded(self):
        cases = [
            ("02 00000004 320a300a", MapText("2\n0\n")),
            ("03 00000001 02", PlayerNumber(2)),
            ("04 00000005 000006a4 03", MoveRequest(1700, 3)),
            ("06 00000006 0003 000a 0b 02", MoveAnnouncement(3, 10, 11, 2)),
            ("07 00000001 03", Disqualification(3)),
            ("08 00000000", Terminal()),
            ("09 00000000", Fin()),
        ]
        # All in one stream: each message ends exactly where the next begins.
        self.server_end.sendall(b"".join(bytes.fromhex(wire) for wire, _ in cases))
        for wire, expected in cases:
            self.assertEqual(self.connection.receive(timeout=5), expected, wire)

    def test_headers_whose_length_does_not_fit_the_type_are_refused(self):
        for wire in ["06 00000005 0003000a00", "05 00000005 0003000a00", "02 00000000",
                     "02 001eb361", "00 00000000", "0a 00000000", "64 00000001 00"]:
            server_end, client_end = socket.socketpair()
            with server_end, Connection(client_end) as connection:
                server_end.sendall(bytes.fromhex(wire))
                with self.assertRaises(ProtocolError, msg=wire):
                    connection.receive(timeout=5)

    def test_a_header_in_two_pieces_is_one_message(self):
        def send_late():
            self.server_end.sendall(bytes.fromhex("04 0000"))
            time.sleep(0.05)
            self.server_end.sendall(bytes.fromhex("0005 000003e8 00"))
        sender = threading.Thread(target=send_late)
        sender.start()
        self.assertEqual(self.connection.receive(timeout=5), MoveRequest(1000, 0))
        sender.join()

    def test_time_outs_and_the_end_of_the_stream(self):
        with self.assertRaises(MessageTimeout):
            self.connection.receive(timeout=0.05)
        self.server_end.sendall(bytes.fromhex("06 00000006 0003"))
        with self.assertRaises(MessageTimeout):
            self.connection.receive(timeout=0.05)
        self.server_end.close()
        with self.assertRaises(ConnectionClosed):
            self.connection.receive(timeout=5)


if __name__ == "__main__":
    unittest.main()

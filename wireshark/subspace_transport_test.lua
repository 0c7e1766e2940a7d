-- Tests of subspace_transport.lua in whichever Lua runs them:
--   lua5.4 subspace_transport_test.lua
-- Prints the failures and a summary; exits 1 on any failure. Loaded by
-- Wireshark as a plugin it does nothing.
if arg == nil or arg[0] == nil then return end
local folder = arg[0]:match("^(.*)[/\\]") or "."
local transport = dofile(folder .. "/subspace_transport.lua")

local failures, checks = 0, 0
local function expect(got, want, what)
  checks = checks + 1
  if got ~= want then
    failures = failures + 1
    print(string.format("%s:\n  got  %s\n  want %s", what, tostring(got), tostring(want)))
  end
end

local function bytes(hex)
  return (hex:gsub("%s", ""):gsub("..", function(pair) return string.char(tonumber(pair, 16)) end))
end
local function hex(text)
  return (text:gsub(".", function(c) return string.format("%02x", c:byte()) end))
end

-- A node and its children in short: g28 a game packet, c03=5 a reliable
-- packet with id 5, !code a problem, +[...] a joined packet.
local function shape(node)
  local text
  if node.game ~= nil then
    text = string.format("g%02x", node.game)
  else
    text = node.core and string.format("c%02x", node.core) or "c"
    local number = node.id or node.ack or node.length or node.time
    if number ~= nil then text = text .. string.format("=%.0f", number) end
    if node.piece_size ~= nil then text = text .. ":" .. node.piece_size end
  end
  if node.problem ~= nil then text = text .. "!" .. node.problem end
  local note = node.note or {}
  for _, mark in ipairs({"waiting", "retransmission", "stale", "problem"}) do
    if note[mark] ~= nil then text = text .. "!" .. (mark == "problem" and note.problem or mark) end
  end
  for i, range in ipairs(note.missing or {}) do
    text = text .. (i == 1 and "!missing:" or ",") .. string.format("%.0f", range[1])
    if range[2] ~= range[1] then text = text .. string.format("-%.0f", range[2]) end
  end
  if node.children ~= nil and #node.children > 0 then
    local inner = {}
    for i, child in ipairs(node.children) do
      inner[i] = (child.reassembled and "+" or "") .. shape(child)
    end
    text = text .. "[" .. table.concat(inner, " ") .. "]"
  end
  return text
end

-- One datagram each, read with no connection state: what the reader makes
-- of bad input. (Every type well formed is read through tshark.)
-- Seventeen clusters, one inside the other.
local deep = "2801"
for _ = 1, 17 do deep = string.format("000e%02x", #deep / 2) .. deep end
local reads = {
  {"00 03 ffffffff 00 0e 02 28 01 06 00 04 07000000", "c03=4294967295[c0e[g28 c04=7]]",
   "reliable 4294967295 > cluster(2)"},
  {"00 0e 03 00 03 01", "c0e[c03!short]", "cluster(1)"},
  {"00 0e 02 28 01 00 05", "c0e!cluster_zero[g28]", "cluster(1)"},
  {"00 0e 09 28 01", "c0e!cluster_overrun[g28]", "cluster(1)"},
  {"00 0e", "c0e!empty", "cluster(0)"},
  {"00 03 01000000", "c03=1!empty", "reliable 1"},
  {"00 04 0700", "c04!short", "ack"},
  {"00 04 07000000 ff", "c04=7!extra", "ack 7"},
  {"00 05 10000000 0100", "c05=16!short", "sync request"},
  {"00 09", "c09:0", "chunk tail"},
  {"00 0b 01", "c0b!extra", "stream cancel"},
  {"00", "c!short", "core"},
  {deep, string.rep("c0e[", 16) .. "c0e!too_deep" .. string.rep("]", 16), "cluster(1)"},
}
for _, case in ipairs(reads) do
  local node = transport.read(bytes(case[1]), 1, nil, {})
  expect(shape(node), case[2], "shape of " .. case[1])
  expect(transport.summary(node), case[3], "summary of " .. case[1])
end

-- Datagrams of one direction in turn, frame numbers from 1: what each frame
-- shows, what became of the pieces in frame order (the frame that
-- completed their packet, - for none yet, or why not joined), and the
-- packets joined. Limit: the largest packet, when not 16 MiB; then whether
-- the capture missed the flow's beginning, and the window, when not 256.
local flows = {
  {"chunks in id order, a stream, a cancel",
   {"00 03 00000000 00 08 2801", "00 03 01000000 00 09 02", "00 0a 03000000 2a",
    "00 0a 03000000 0102", "00 0a 05000000 2b", "00 0b", "00 0a 01000000 2c"},
   {"c03=0[c08:2]", "c03=1[c09:1 +g28]", "c0a=3:1", "c0a=3:2[+g2a]", "c0a=5:1", "c0b",
    "c0a=1:1[+g2c]"},
   "2 2 4 4 - 7", "280102 2a0102 2c"},
  {"ids wrap, and an id behind the next is not taken",
   {"00 03 ffffffff 00 08 41", "00 03 00000000 00 09 42", "00 03 feffffff 00 09 43"},
   {"c03=4294967295[c08:1]", "c03=0[c09:1 +g41]", "c03=4294967294!stale[c09:1]"}, "2 2", "4142"},
  {"a stream that overruns, and one whose length changes",
   {"00 0a 02000000 3a", "00 0a 02000000 3b3c", "00 0a 03000000 3d", "00 0a 02000000 3e3f"},
   {"c0a=2:1", "c0a=2:2!overrun", "c0a=3:1", "c0a=2:2!restarted[+g3e]"},
   "- overrun - restarted", "3e3f"},
  {"streams past the limit",
   {"00 0a 04000000 28", "00 0a 05000000 28", "00 0a 02000000 2829"},
   {"c0a=4:1", "c0a=5:1!too_big", "c0a=2:2[+g28]"}, "- too_big 3", "2829", 4},
  {"chunks past the limit: the packet is dropped up to its tail",
   {"00 08 2801", "00 08 020304", "00 08 05", "00 09 06", "00 08 2a", "00 09 2b"},
   {"c08:2", "c08:3!too_big", "c08:1!too_big", "c09:1!too_big", "c08:1", "c09:1[+g2a]"},
   "- too_big too_big too_big 6 6", "2a2b", 4},
  {"a flow begun before the capture: pieces up to the first tail and a stream are not joined",
   {"00 08 2801", "00 09 02", "00 08 41", "00 09 42", "00 0a 05000000 0102",
    "00 0a 05000000 0304", "00 0a 02000000 2a2b"},
   {"c08:2!start_missing", "c09:1!start_missing", "c08:1", "c09:1[+g41]",
    "c0a=5:2!start_missing", "c0a=5:2!start_missing", "c0a=2:2[+g2a]"},
   "start_missing start_missing 4 4 start_missing start_missing 7", "4142 2a2b", nil, true},
  {"a missing id is given up a window on, costing the chunk it was in",
   {"00 03 00000000 00 08 41", "00 03 02000000 00 08 42", "00 03 03000000 00 09 43",
    "00 03 04000000 00 08 44", "00 03 05000000 00 09 45", "00 03 01000000 00 09 46",
    "00 03 ffff0000 00 09 47"},
   {"c03=0[c08:1]", "c03=2!waiting[c08:1]", "c03=3!waiting[c09:1]", "c03=4!missing:1[c08:1]",
    "c03=5[c09:1 +g44]", "c03=1!stale[c09:1]", "c03=65535!waiting!missing:6-65532[c09:1]"},
   "- start_missing start_missing 5 5", "4445", nil, false, 3},
  {"a joined packet of chunk headers is read, not joined again",
   {"00 08 0008 0008", "00 09 0009 28", "00 09 29"},
   {"c08:4", "c09:3[+c08:5]", "c09:1[+g29]"}, "2 2 3", "00080008000928 29"},
}
for _, case in ipairs(flows) do
  transport.MAX_PACKET = case[6] or 16 * 1024 * 1024
  transport.WINDOW = case[8] or 256
  local flow = transport.new_flow(case[7])
  local notes_by_frame, joined = {}, {}
  for frame, datagram in ipairs(case[2]) do
    local node, sources, notes = transport.read(bytes(datagram), frame, flow)
    expect(shape(node), case[3][frame], case[1] .. ", frame " .. frame)
    for i = 2, sources and #sources or 0 do joined[#joined + 1] = hex(sources[i]) end
    -- A later pass reads the same from the notes alone.
    expect(shape(transport.read(bytes(datagram), frame, nil, notes)), shape(node),
           case[1] .. ", frame " .. frame .. " again")
    notes_by_frame[frame] = notes or {}
  end
  local pieces = {}
  for _, notes in ipairs(notes_by_frame) do
    for _, note in pairs(notes) do
      if note.record ~= nil or note.problem ~= nil then
        pieces[#pieces + 1] = note.problem or tostring(note.record.frame or "-")
      end
    end
  end
  expect(table.concat(pieces, " "), case[4], case[1] .. ": pieces")
  expect(table.concat(joined, " "), case[5], case[1] .. ": joined")
end

-- Which flow a datagram's pieces join (decide.lua): the two sides of one
-- conversation never share one, whatever tells them apart, and a flow
-- begun before the capture knows it. Each case: the datagrams of one
-- conversation in turn, as sender (a or b), the direction the capture or
-- the ports tell (or none) and bytes; then which of them share a flow
-- ("1 1 2": the first two share one, the third has its own) and which of
-- those flows began before the capture (p) or with it (s).
local decide = dofile(folder .. "/subspace_decide.lua")
local sides = {
  {"no key request, nothing to tell the sides apart",
   {{"a", nil, "00 03 00000000 28"}, {"b", nil, "00 03 00000000 28"},
    {"a", nil, "00 03 01000000 28"}}, "1 2 1", "p p p"},
  {"no key request, the capture tells the direction",
   {{"a", "c2s", "00 08 28"}, {"b", "s2c", "00 08 28"}, {"b", "s2c", "00 09 28"}},
   "1 2 2", "p p p"},
  {"a key request names the client, its flows begin with it",
   {{"a", nil, "00 03 00000000 28"}, {"a", nil, "00 01 01000000 01 00"},
    {"b", nil, "00 03 00000000 28"}, {"a", nil, "00 03 00000000 28"}},
   "1 - 2 3", "p - s s"},
}
for _, case in ipairs(sides) do
  decide.forget()
  local seen, shares, begun = {}, {}, {}
  for frame, datagram in ipairs(case[2]) do
    local data = bytes(datagram[3])
    local _, flow = decide.first(frame, "a b", datagram[1], datagram[2], data:byte(2), #data, data)
    if flow == nil then
      shares[frame], begun[frame] = "-", "-"
    else
      if seen[flow] == nil then seen[#seen + 1] = flow; seen[flow] = #seen end
      shares[frame] = tostring(seen[flow])
      begun[frame] = flow.chunk.missing and "p" or "s"
    end
  end
  expect(table.concat(shares, " "), case[3], case[1] .. ": flows")
  expect(table.concat(begun, " "), case[4], case[1] .. ": begun")
end

-- Ids and ports as text, through a cache that starts afresh when full
-- (more numbers than it holds, twice): each reads the same throughout.
local texts, wanted = {}, {}
for _ = 1, 2 do
  for number = 0, 5000 do
    local big = number == 4998  -- the largest id
    texts[#texts + 1] = transport.decimal(big and 4294967295 or number)
    wanted[#wanted + 1] = big and "4294967295" or string.format("%d", number)
  end
end
expect(table.concat(texts, " "), table.concat(wanted, " "), "numbers as text")

print(string.format("%s: %d checks, %d failures", _VERSION, checks, failures))
os.exit(failures == 0 and 0 or 1)

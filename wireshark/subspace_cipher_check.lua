-- Checks subspace_cipher.lua against vectors that the relay's own cipher
-- wrote, in whichever Lua runs it:
--   lua5.4 subspace_cipher_check.lua vectors.lua
-- Prints the first mismatches and a summary; exits 1 on any mismatch.
-- Copied with the dissector into a plugins folder, Wireshark runs it with
-- no arguments: nothing to check then.
if arg == nil or arg[1] == nil then return end
local folder = arg[0]:match("^(.*)[/\\]") or "."
local cipher = dofile(folder .. "/subspace_cipher.lua")
local vectors = dofile(arg[1])

local failures, checks = 0, 0
local function check(ok, ...)
  checks = checks + 1
  if not ok then
    failures = failures + 1
    if failures <= 20 then print(string.format(...)) end
  end
end

local function bytes(hex)
  return (hex:gsub("..", function(pair) return string.char(tonumber(pair, 16)) end))
end
local function hex(text)
  return (text:gsub(".", function(c) return string.format("%02x", c:byte()) end))
end

for _, draws in ipairs(vectors.states) do
  local state = draws[1]
  for i = 2, #draws do
    state = cipher.next_table_state(state)
    check(state == draws[i], "seed %.0f, step %d: %.0f, want %.0f", draws[1], i - 1, state,
          draws[i])
  end
end

for _, v in ipairs(vectors.sessions) do
  local session = cipher.session(v.server, v.client)
  if v.words == nil then
    check(session == nil, "server key %.0f, client key %.0f: a session, want none", v.server,
          v.client)
  else
    check(session ~= nil and session.key == v.server % 4294967296,
          "server key %.0f, client key %.0f: no session or a wrong key", v.server, v.client)
    for i = 1, #v.words do
      check(session ~= nil and session.words[i] == v.words[i], "server key %.0f, word %d",
            v.server, i - 1)
    end
  end
  for _, pair in ipairs(v.datagrams) do
    local got = hex(cipher.decrypt(session, bytes(pair[1])))
    check(got == pair[2], "server key %.0f, %d bytes %s...: %s, want %s", v.server,
          #pair[1] / 2, pair[1]:sub(1, 8), got:sub(1, 40), pair[2]:sub(1, 40))
  end
end

print(string.format("%s: %d checks, %d failures", _VERSION, checks, failures))
os.exit(failures == 0 and 0 or 1)

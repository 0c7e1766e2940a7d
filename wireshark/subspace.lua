-- SubSpace game protocol for Wireshark and tshark: follows the key exchange
-- of every client/server conversation in a capture, decrypts the game
-- datagrams, unwraps the transport layer packet by packet and joins what
-- was sent in pieces, so that any capture shows the plain protocol.
--
--   tshark -X lua_script:/path/to/subspace.lua -r game.pcapng
--
-- or copy this file and the subspace_*.lua files beside it into
-- Wireshark's Lua plugins folder; it loads them from its own. Each of them
-- does one thing: subspace_locate.lua finds the game and its connections,
-- subspace_decide.lua decides (keys, flows, reassembly, with the cipher
-- and the transport reader), subspace_render.lua shows a frame;
-- subspace_le.lua reads the protocol's little-endian words for all.

local folder = (debug.getinfo(1, "S").source:gsub("^@", "")):match("^(.*)[/\\]") or "."
local function module(name)
  return dofile(folder .. "/subspace_" .. name .. ".lua")
end
local cipher = module("cipher")
local transport = module("transport")
local decide = module("decide")

local subspace = Proto("subspace", "SubSpace")
local render = module("render")(subspace, transport, cipher)

local byte = string.byte
local tvb_raw = Tvb.raw  -- called as a function: a method's look-up costs a call

-- One game datagram: the decision for it (made now on the first pass, read
-- back on later ones), its decryption, its packets, and how it is shown.
-- plain: the relay's capture, which holds it decrypted already; whence:
-- its conversation, its sender and the direction the capture tells (see
-- subspace_locate.lua); number: the frame's.
-- What game hands to the renderer, which reads it before anything it
-- calls could dissect another frame: one table for every frame.
local datagram = {}

local function game(tvb, pinfo, tree, length, plain, whence, number)
  local raw = tvb_raw(tvb)  -- as captured, which a short snap length may have cut
  local captured = #raw
  local first, second = byte(raw, 1, 2)
  local header = cipher.header_size(first or 0, length)

  local frame = decide.known(number)
  local flow
  if frame == nil then
    if pinfo.visited and not plain then
      -- A frame that the first pass left to other dissectors: the
      -- conversation that the heuristic claimed later covers it now.
      -- (A record of the relay's capture that a pass without a tree took
      -- for an auxiliary one is decided when first seen as game.)
      return 0
    elseif pinfo.in_error_pkt then
      frame = decide.quoted(number)
    else
      local key, source, hint = whence(pinfo, plain)
      frame, flow = decide.first(number, key, source, hint, header == 2 and second or nil, length,
                                 raw)
    end
  end

  local too_long = length - header > cipher.MAX_PAYLOAD
  local session = not plain and not too_long and frame.session or nil
  local shown = raw
  if session ~= nil and captured > header then
    -- A game packet's type is its clear header, all that its reader
    -- needs: the renderer decrypts it when something shows its bytes.
    if first == 0 then
      shown = cipher.decrypt_after(session, raw, header)
    else
      shown = nil
    end
  end
  local readable = plain or (frame.readable and not (too_long and frame.session ~= nil))

  local node, sources
  if readable and captured > 0 then
    node, sources = decide.read(number, shown or raw, flow)
  elseif first ~= nil then
    -- Bytes that are not plain: only the type, which the header keeps
    -- clear, is known.
    node = {source = 1, offset = 0, size = captured, children = {}}
    if first ~= 0 then
      node.game = first
    elseif header == 2 then
      node.core = second
    else
      node.core = false
    end
  end
  local d = datagram
  d.number, d.raw, d.shown, d.length, d.header, d.frame = number, raw, shown or false, length,
                                                          header, frame
  d.plain, d.session, d.readable, d.node = plain, session or false, readable, node or false
  d.sources, d.too_long = sources or false, too_long
  render.game(tvb, pinfo, tree, d)
  return length
end

local locate = module("locate")(subspace, {game = game, auxiliary = render.auxiliary,
                                           known = decide.known, decimal = transport.decimal})

function subspace.init()
  decide.forget()
  render.forget()
  locate.forget()
end

function subspace.prefs_changed()
  locate.claim_ports()
end

locate.register()

// Client functions of the status bar (rz.asp), included after apply.js.

var DESK_TITLE = 'TARVO网络办公系统';

// Logging out ends the session for the whole window, not just this frame.
function quitoa() {
  if (window.confirm('确定要退出系统吗？')) top.location = 'quit.asp';
  return false;
}

// The documents of the working screen's frames that this page may reach.
function screenDocuments() {
  var docs = [];
  function walk(win) {
    for (var i = 0; i < win.frames.length; i++) {
      try {
        docs.push(win.frames[i].document);
        walk(win.frames[i]);
      } catch (e) {
        // a frame of another origin
      }
    }
  }
  walk(window.top);
  if (docs.indexOf(document) < 0) docs.push(document);
  return docs;
}

// Whether an announcement waits for the user's first click; kept in the top
// window so that it outlives the reloads of this frame.
function soundHeld(held) {
  try {
    if (held === undefined) return !!top.deskSoundHeld;
    top.deskSoundHeld = held;
  } catch (e) {}
  return false;
}

// Plays the reminder sound. The browser lets a page play sound only after
// the user has clicked somewhere in the window; until then the sound waits
// (through reloads of the bar) for the first click in any frame of the
// working screen.
function playReminder() {
  var audio = document.getElementById('remindaudio');
  if (!audio) return;
  var started = audio.play();
  if (!started || !started.then) return soundHeld(false);
  started.then(function () { soundHeld(false); }, function () {
    soundHeld(true);
    var docs = screenDocuments(), hint = document.getElementById('soundhint');
    if (hint) hint.style.display = '';
    function detach() {
      for (var i = 0; i < docs.length; i++) {
        try { docs[i].removeEventListener('mousedown', unlock, true); } catch (e) {}
      }
    }
    function unlock() {
      detach();
      if (hint) hint.style.display = 'none';
      audio.play().then(function () { soundHeld(false); }, function () {});
    }
    for (var i = 0; i < docs.length; i++) docs[i].addEventListener('mousedown', unlock, true);
    window.addEventListener('pagehide', detach);
  });
}

// Called at the end of the status bar: `refresh` seconds until the bar loads
// again, whether this load announced something, and how many pending items
// and unread mails wait. The window title and the menu's sprite follow the
// count at every load.
function statusBar(refresh, announce, count) {
  try {
    top.document.title = count > 0 ? '(' + count + ') ' + DESK_TITLE : DESK_TITLE;
  } catch (e) {}
  var menu = findFrame(window.top, 'left');
  try {
    var cat = menu && menu.document.getElementById('cat');
    if (cat) {
      var picture = count > 0 ? 'images/logo.gif' : 'images/logo1.gif';
      if (cat.getAttribute('src') != picture) cat.setAttribute('src', picture);
      cat.title = count > 0 ? '有新的待办事宜或邮件，点击查看' : '没有新的待办事宜和邮件';
    }
  } catch (e) {}
  window.setTimeout(function () { location.replace('rz.asp'); }, refresh * 1000);
  if (announce || soundHeld()) playReminder();
}

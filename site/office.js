// The document control in the page: `office` has the control's property and
// method names, and forwards every call to the user's document helper
// ("officectl serve" on the user's computer, at http://127.0.0.1:19280 unless
// the page sets `officeHelperPort`). Calls return promises and run one after
// another in the order they were made, so a page that awaits them keeps the
// control's calling order. A call that raises an error in the control
// rejects; the control's message boxes are shown with alert().
//
// The helper is paired with the browser once: the page asks for the code the
// helper shows and keeps the secret the helper answers with. Addresses of
// this site handed to the control get a transfer token (transfer.asp), so
// the helper acts for the user without the session cookie.
//
// office.ready() resolves true when the helper answers and is paired; pages
// otherwise keep their file inputs and download links, and office.sayFallback
// says so once.
var office = (function () {
  'use strict';
  var port = window.officeHelperPort || 19280;
  var base = 'http://127.0.0.1:' + port;
  var id = null;
  var state = null;
  var chain = Promise.resolve();
  var pending = {};
  var lastArgs = [];
  var props = {
    ftpip: '', Port: 0, username: '', Password: '', localfile: '', app: false, curdoc: false,
    result1: false, opentype: '', retmsg: '', ErrorMsg: '', docname: ''
  };
  var readonly = {app: true, curdoc: true, docname: true};
  // Members in the control's interface order, and which argument is an address.
  var members = {
    openfile: 0, writefile: 0, uploadfile: -1, downloadfile: -1, sendurltry: 0, sendurl: 0,
    upload: 0, uploadtry: 0, download: 0, downloadtry: 0, downloadpath: 0, downloadpathtry: 0,
    uploadurl: 0, initupload: -1, addpara: -1, addfile: -1, addzw: -1, adddir: -1,
    disconnect: -1, connect: -1, Emend: -1, pagehead: -1, insertpageno: -1, pagefoot: -1,
    pagesetup: -1, printout: -1, Protect: -1, closedoc: -1, SaveAs: -1, SaveDoc: -1,
    SetUserName: -1, signature: -1, UnEmend: -1, UnProtect: -1, delfile: -1,
    docpane_DocumentComplete: -1, ReadId: -1, CloseComm: -1, DevBeep: -1
  };

  function pairing() {
    try { return localStorage.getItem('officePairing') || ''; } catch (e) { return ''; }
  }

  function post(path, body, timeout) {
    var abort = new AbortController();
    var timer = timeout ? setTimeout(function () { abort.abort(); }, timeout) : null;
    return fetch(base + path, {
      method: 'POST', mode: 'cors', credentials: 'omit', cache: 'no-store',
      headers: {'Content-Type': 'application/json', 'X-Office-Pairing': pairing()},
      body: JSON.stringify(body || {}), signal: abort.signal
    }).then(function (r) {
      if (timer) clearTimeout(timer);
      return r.json().then(function (j) {
        if (!r.ok) throw new Error(j.error || ('HTTP ' + r.status));
        return j;
      });
    });
  }

  function pair() {
    var code = window.prompt('请输入本机“办公助手”（officectl serve）显示的 8 位配对码：', '');
    if (!code) return Promise.resolve(false);
    return post('/pair', {code: code.replace(/\s/g, '')}).then(function (p) {
      localStorage.setItem('officePairing', p.token);
      return true;
    }, function () {
      alert('配对码不正确。');
      return false;
    });
  }

  function watchFocus() {
    function send() {
      if (id === null) return;
      var active = document.hasFocus() && document.visibilityState === 'visible';
      post('/focus', {id: id, active: active}).catch(function () {});
    }
    window.addEventListener('focus', send);
    window.addEventListener('blur', send);
    document.addEventListener('visibilitychange', send);
    window.addEventListener('pagehide', function () {
      if (id === null) return;
      fetch(base + '/close', {method: 'POST', mode: 'cors', credentials: 'omit', keepalive: true,
        headers: {'Content-Type': 'application/json', 'X-Office-Pairing': pairing()},
        body: JSON.stringify({id: id})}).catch(function () {});
    });
  }

  function ready() {
    if (state) return state;
    state = post('/hello', {}, 2000)
      .then(function (h) { return h.paired ? true : pair(); })
      .then(function (ok) {
        if (!ok) return false;
        return post('/control', {}).then(function (c) {
          id = c.id;
          watchFocus();
          return true;
        });
      })
      .catch(function () { return false; });
    return state;
  }

  // An address of this site gets a transfer token for its page and document.
  function transferable(address) {
    var u = new URL(address, location.href);
    if (u.origin !== location.origin) return Promise.resolve(u.href);
    var page = u.pathname.substring(u.pathname.lastIndexOf('/') + 1);
    var doc = u.searchParams.get('flowid') || u.searchParams.get('id') || '';
    return fetch('transfer.asp', {method: 'POST', credentials: 'same-origin',
      body: new URLSearchParams({page: page, doc: doc})})
      .then(function (r) {
        return r.text().then(function (t) {
          if (!r.ok) throw new Error(t || '不能为办公助手申请传输凭据。');
          u.searchParams.set('transfer', t.trim());
          return u.href;
        });
      });
  }

  function call(member, args) {
    var run = chain.then(ready).then(function (ok) {
      if (!ok) throw new Error('没有连接到本机的办公助手。');
      var at = members[member];
      if (at < 0 || typeof args[at] !== 'string') return args;
      return transferable(args[at]).then(function (a) {
        args[at] = a;
        return args;
      });
    }).then(function (a) {
      var set = pending;
      pending = {};
      return post('/call', {id: id, member: member, args: a.map(String), props: set});
    }).then(function (answer) {
      Object.keys(answer.props || {}).forEach(function (k) { props[k] = answer.props[k]; });
      lastArgs = answer.args || [];
      (answer.messages || []).forEach(function (m) {
        alert(m.title ? m.title + '\n' + m.text : m.text);
      });
      if (answer.error) throw new Error(answer.error);
      return answer.result;
    });
    chain = run.catch(function () {});
    return run;
  }

  var o = {
    ready: ready,
    // The arguments of the last call as the control left them (by-reference
    // arguments such as upload's filepath changed).
    lastArgs: function () { return lastArgs; },
    // Says once per browser session that the page works without the helper.
    sayFallback: function (element) {
      var said = false;
      try {
        said = sessionStorage.getItem('officeFallbackSaid') === '1';
        sessionStorage.setItem('officeFallbackSaid', '1');
      } catch (e) {}
      if (!said && element)
        element.innerText = '没有连接到本机的办公助手（officectl serve），请用文件选择框和下载链接处理正文。';
    },
    // For tests: types and deletes text as the user at the word processor
    // would (helpers started with --test-ops only).
    testEdit: function (edit) {
      var run = chain.then(ready).then(function () {
        return post('/test/edit', Object.assign({id: id}, edit));
      });
      chain = run.catch(function () {});
      return run;
    }
  };
  Object.keys(members).forEach(function (m) {
    o[m] = function () { return call(m, Array.prototype.slice.call(arguments)); };
  });
  Object.keys(props).forEach(function (name) {
    Object.defineProperty(o, name, {
      enumerable: true,
      get: function () { return props[name]; },
      set: function (v) {
        if (readonly[name]) return;
        props[name] = v;
        pending[name] = v;
      }
    });
  });
  return o;
})();
